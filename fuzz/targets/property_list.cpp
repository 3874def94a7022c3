// A property list (Info.plist, entitlements, user-defaults suites), XML or
// binary: what reads as a dictionary writes out in both forms or is refused,
// and what is written reads back. (libplist does not keep the bytes of a
// hostile list stable from one writing to the next, so they are not compared.)

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
      // Refused (a string with NUL or not UTF-8, bytes that would not read
      // back), never written cut short or unreadable.
      FUZZ_CHECK(written.error().code == 3851);
      continue;
    }
    auto reread = MutablePropertyList::parse(*written);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(PropertyList::parse(*written).has_value());
    (void)reread->serialized(format);
  }
}
