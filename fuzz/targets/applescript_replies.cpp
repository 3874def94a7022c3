// What osascript answers: an error report on standard error, and the Word
// bridge's reply to its active-document script on standard output.

#include "fuzz/fuzz_target.h"
#include "platform/applescript/script_report_linux.h"
#include "word-relay/word_scripts.h"

using namespace ostrel;

FUZZ_TARGET(applescript_replies) {
  const Error error = applescript_linux::errorFromStandardError(input);
  FUZZ_CHECK(error.domain == AppleScriptError::domain);
  FUZZ_CHECK(error.code == AppleScriptError::compileFailed || error.code == AppleScriptError::executionFailed);
  (void)AppleScriptError::number(error);
  if (const auto message = AppleScriptError::message(error)) FUZZ_CHECK(!message->empty());
  (void)word::failureForScriptError(error);

  (void)word::parseActiveDocReply(input);
}
