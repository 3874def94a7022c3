#include "platform/fileprovider/fuse/local_only_names.h"

#include <gtest/gtest.h>

namespace ostrel::fileprovider {
namespace {

TEST(LocalOnlyNames, ScratchNamesOfDesktopProgramsStayLocalAndDocumentsDoNot) {
  struct Case {
    const char* name;
    bool localOnly;
  };
  const Case cases[] = {
      // LibreOffice
      {".~lock.Brief.docx#", true},
      {"lu12345abcd.tmp", true},
      {"lunch.tmp", true},
      {"lu.tmp", false},
      // vim
      {".Brief.txt.swp", true},
      {".Brief.txt.swo", true},
      {"4913", true},
      {"49130", false},
      {"Brief.txt.swp", false},
      // emacs
      {".#Brief.txt", true},
      {"#Brief.txt#", true},
      {"#", false},
      {"##", false},
      // backups
      {"Brief.docx~", true},
      // rsync's partial file: a dot, the name, a dot and six letters or digits
      {".Brief.pdf.a1B2c3", true},
      {".Brief.pdf.a1B2c", false},
      {".Brief.pdf.a1B2-3", false},
      {"Brief.pdf.a1B2c3", false},
      // GNOME, KDE, file managers, other systems
      {".goutputstream-XK2Q1Z", true},
      {"Brief.txt.kate-swp", true},
      {".directory", true},
      {".Trash-1000", true},
      {".DS_Store", true},
      {"Thumbs.db", true},
      {"THUMBS.DB", true},
      {"desktop.ini", true},
      {"Desktop.ini", true},
      // what people name their documents
      {"Brief.docx", false},
      {"Engagement letter (v3).docx", false},
      {"#1 priority.txt", false},
      {"lu.docx", false},
      {"~notes.txt", false},
      {".hidden", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isLocalOnlyName(c.name), c.localOnly) << '"' << c.name << '"';
}

}  // namespace
}  // namespace ostrel::fileprovider
