#include "drive-helper/commands.h"
#include "drive-helper/output.h"

namespace ostrel::drive::helper {

int runCommand(const Arguments& args) {
  const std::string command = args.empty() ? std::string() : args.front();
  if (command == "register") return cmdRegister(args);
  if (command == "remove") return cmdRemove(args);
  if (command == "list") return cmdList(args);
  if (command == "serve") cmdServe(args);
  fail("usage: register | remove | list | serve");
}

}  // namespace ostrel::drive::helper
