// A property list (Info.plist, entitlements, user-defaults suites), XML or
// binary: what reads as a dictionary writes out in both forms or is refused,
// and what is written reads back and writes out the same again.

#include "fuzz/fuzz_target.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/property_list_writer.h"

using namespace ostrel;

FUZZ_TARGET(property_list) {
  if (const auto list = PropertyList::parse(input)) {
    for (const char* key : {"CFBundleIdentifier", "NSExtension", "a", ""}) {
      (void)list->stringForKey(key);
      (void)list->stringArrayForKey(key);
      (void)list->integerForKey(key);
      (void)list->boolForKey(key);
      if (const auto nested = list->dictionaryForKey(key)) (void)nested->stringForKey(key);
    }
  }
  auto mutableList = MutablePropertyList::parse(input);
  if (!mutableList) return;
  for (const auto format : {PropertyListFormat::xml, PropertyListFormat::binary}) {
    const auto written = mutableList->serialized(format);
    if (!written) {
      // Refused (a string that is not UTF-8), never written cut short.
      FUZZ_CHECK(written.error().code == 3851);
      continue;
    }
    auto reread = MutablePropertyList::parse(*written);
    FUZZ_CHECK(reread.has_value());
    const auto rewritten = reread->serialized(format);
    FUZZ_CHECK(rewritten.has_value());
    FUZZ_CHECK(*rewritten == *written);
  }
}
