#include "word-relay/stamping.h"

#include <array>
#include <string_view>
#include <utility>

#include "word-relay/word_application.h"
#include "word-relay/word_scripts.h"

namespace ostrel::word {

namespace {

constexpr std::string_view stampingTemplate = R"script(tell application "Microsoft Word"
    set target to missing value
    -- Word refuses `repeat with d in documents` (-1708); index instead.
    repeat with i from 1 to (count of documents)
        set d to document i
        set p to ""
        try
            set fn to full name of d
            if fn starts with "/" then
                set p to fn
            else
                set p to POSIX path of (fn as alias)
            end if
        end try
        if p is "«path»" then
            set target to d
            exit repeat
        end if
    end repeat
    if target is missing value then return "NOT_OPEN"
    set wasClean to saved of target
    repeat with pair in {{"OstrelDocumentId", "«document»"}, ¬
        {"OstrelVersionId", "«version»"}, ¬
        {"OstrelMatterId", "«matter»"}, ¬
        {"OstrelSessionId", "«session»"}}
        set k to item 1 of pair
        set v to item 2 of pair
        if v is "" then
            try
                delete (custom document property k of target)
            on error
                try
                    set value of (custom document property k of target) to ""
                end try
            end try
        else
            try
                set value of (custom document property k of target) to v
            on error
                make new custom document property at target with properties ¬
                    {name:k, value:v, document property type:property type string}
            end try
        end if
    end repeat
    if wasClean then
        set saved of target to false
        save target
        return "SAVED"
    end if
    return "PENDING"
end tell)script";

}  // namespace

// One pass over the template: a value that itself reads "«version»" stays
// as it is instead of being filled in by a later marker.
std::string stampingScript(const StampRequest& request) {
  const std::array<std::pair<std::string_view, const std::string*>, 5> markers{{
      {"«path»", &request.path},
      {"«document»", &request.documentID},
      {"«version»", &request.versionID},
      {"«matter»", &request.matterID},
      {"«session»", &request.sessionID},
  }};
  std::string script;
  size_t copied = 0;
  for (size_t at = stampingTemplate.find("«"); at != std::string_view::npos; at = stampingTemplate.find("«", at + 1)) {
    for (const auto& [marker, value] : markers) {
      if (stampingTemplate.substr(at, marker.size()) != marker) continue;
      script += stampingTemplate.substr(copied, at - copied);
      script += escapeForAppleScript(*value);
      copied = at + marker.size();
      break;
    }
  }
  script += stampingTemplate.substr(copied);
  return script;
}

Outcome cmdSetStamp(const Workspace& workspace, const StampRequest& request) {
  if (auto running = requireWordRunning(workspace); !running) return std::unexpected(running.error());
  auto reply = runAppleScript(stampingScript(request));
  if (!reply) return std::unexpected(reply.error());
  if (*reply == "NOT_OPEN") return std::unexpected(failures::notOpen(request.path));
  return succeeded({{"path", request.path}, {"saved_now", *reply == "SAVED"}});
}

}  // namespace ostrel::word
