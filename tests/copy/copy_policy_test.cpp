#include "copy/policy/copy_policy.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "copy/policy/name_keys.h"
#include "support/fake_files.h"

namespace salvatrix {
namespace {

using testing::FakeFiles;
using testing::FakeVolume;
using Tree = std::map<std::string, std::string>;

// The sticks the rules meet: a case-sensitive kernel file system with unnamed files (ext4), a
// kernel file system that folds case and tells spellings by identity (FAT or exFAT as Linux
// and Windows mount them), and exFAT in user space, which numbers every spelling apart.
enum class Stick { kExt4, kFoldingKernel, kExfatFuse };

FakeVolume VolumeFor(Stick stick) {
  const auto upcase = [](std::string_view name) { return NameKey(name, NameRule::kUpcase); };
  switch (stick) {
    case Stick::kExt4:
      return {nullptr, {true, NameRule::kExact, UINT64_MAX, true}};
    case Stick::kFoldingKernel:
      return {upcase, {true, NameRule::kUpcase, UINT64_MAX, false}};
    case Stick::kExfatFuse:
      break;
  }
  return {upcase, {false, NameRule::kUpcase, UINT64_MAX, false}};
}

// One copy call and what it must come to: copied, refused for a reason, or failed otherwise.
struct Call {
  std::string source;
  std::string destination;
  bool folder = false;
  std::optional<CopyProblem> refused = std::nullopt;
  bool fails = false;
};

struct Case {
  std::string name;
  std::vector<Stick> sticks;
  Tree source;  // below /src, as FakeFiles::Make takes it
  Tree before;  // on the stick (E:\) before the job
  std::vector<Call> calls;
  Tree after;                                         // the whole stick after the job
  std::function<void(FakeVolume&)> volume = nullptr;  // the stick's settings
  std::function<void(FakeFiles&)> prepare = nullptr;  // once everything is in place
  bool overwrite = true;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"a file is copied with its time and a same-named file replaced",
       {Stick::kExt4, Stick::kFoldingKernel, Stick::kExfatFuse},
       {{"a.txt", "new"}, {"b.txt", "b"}},
       {{"a.txt", "old"}},
       {{"/src/a.txt", "E:\\a.txt"}, {"/src/b.txt", "E:\\b.txt"}},
       {{"a.txt", "new"}, {"b.txt", "b"}}},
      {"without overwrite an existing file stays",
       {Stick::kExt4, Stick::kExfatFuse},
       {{"a.txt", "new"}},
       {{"a.txt", "old"}},
       {{"/src/a.txt", "E:\\a.txt", false, CopyProblem::kExists}},
       {{"a.txt", "old"}},
       nullptr,
       nullptr,
       false},
      {"links on the stick are replaced, never followed",
       {Stick::kExt4},
       {{"a.txt", "a"}, {"Docs/d.txt", "d"}, {"Deep/inner/x.txt", "x"}},
       {{"a.txt", "@/outside/keep.txt"}, {"Docs", "@/outside"}, {"Deep/inner", "@../../outside"}},
       {{"/src/a.txt", "E:\\a.txt"},
        {"/src/Docs", "E:\\Docs", true},
        {"/src/Deep", "E:\\Deep", true}},
       {{"a.txt", "a"},
        {"Deep", "/"},
        {"Deep/inner", "/"},
        {"Deep/inner/x.txt", "x"},
        {"Docs", "/"},
        {"Docs/d.txt", "d"}}},
      {"a mount point on the stick is never entered nor replaced",
       {Stick::kExt4, Stick::kExfatFuse},
       {{"Other/o.txt", "new"}, {"file.txt", "new"}},
       {},
       {{"/src/Other", "E:\\Other", true, CopyProblem::kMountPoint},
        {"/src/file.txt", "E:\\file.txt", false, CopyProblem::kMountPoint}},
       {{"Other", "/"}, {"Other/o.txt", "old"}, {"file.txt", "/"}},
       nullptr,
       [](FakeFiles& files) {
         files.Mount("/stick/Other", {});
         files.Make("/stick/Other/o.txt", "old");
         files.Mount("/stick/file.txt", {});
       }},
      {"a folder where a file goes and a file where a folder goes fail",
       {Stick::kExt4},
       {{"name/n.txt", "n"}, {"other", "file"}},
       {{"name", "file"}, {"other/keep", "keep"}},
       {{"/src/name", "E:\\name", true, CopyProblem::kFileInTheWay},
        {"/src/other", "E:\\other", false, CopyProblem::kFolderInTheWay}},
       {{"name", "file"}, {"other", "/"}, {"other/keep", "keep"}}},
      {"two spellings of one entry fail and the first keeps its content",
       {Stick::kFoldingKernel, Stick::kExfatFuse},
       {{"README.txt", "upper"},
        {"readme.txt", "lower"},
        {"Docs/report.txt", "upper"},
        {"docs/report.txt", "lower"},
        {"I.txt", "dotted"},
        {"\xC4\xB1.txt", "dotless"},  // the stick's table keeps ı and I apart
        {"NOTES.txt", "new notes"}},
       {{"Notes.txt", "on the stick before"}},
       {{"/src/I.txt", "E:\\I.txt"},
        {"/src/\xC4\xB1.txt", "E:\\\xC4\xB1.txt"},
        {"/src/NOTES.txt", "E:\\NOTES.txt"},
        {"/src/README.txt", "E:\\README.txt"},
        {"/src/readme.txt", "E:\\readme.txt", false, CopyProblem::kTwoNamesOneEntry},
        {"/src/Docs", "E:\\Docs", true},
        {"/src/docs", "E:\\docs", true, CopyProblem::kTwoNamesOneEntry}},
       {{"Docs", "/"},
        {"Docs/report.txt", "upper"},
        {"I.txt", "dotted"},
        {"NOTES.txt", "new notes"},
        {"README.txt", "upper"},
        {"\xC4\xB1.txt", "dotless"}}},
      {"where the stick keeps spellings apart all of them land",
       {Stick::kExt4},
       {{"README.txt", "upper"}, {"readme.txt", "lower"}, {"Docs/r", "u"}, {"docs/r", "l"}},
       {},
       {{"/src/README.txt", "E:\\README.txt"},
        {"/src/readme.txt", "E:\\readme.txt"},
        {"/src/Docs", "E:\\Docs", true},
        {"/src/docs", "E:\\docs", true}},
       {{"Docs", "/"},
        {"Docs/r", "u"},
        {"README.txt", "upper"},
        {"docs", "/"},
        {"docs/r", "l"},
        {"readme.txt", "lower"}}},
      {"a stick that folds what its table keeps apart fails rather than merge",
       {Stick::kExfatFuse},
       {{"I.txt", "dotted"}, {"\xC4\xB1.txt", "dotless"}},
       {},
       {{"/src/I.txt", "E:\\I.txt"},
        {"/src/\xC4\xB1.txt", "E:\\\xC4\xB1.txt", false, CopyProblem::kTwoNamesOneEntry}},
       {{"I.txt", "dotted"}},
       [](FakeVolume& volume) {
         volume.fold = [](std::string_view name) {
           std::string key = NameKey(name, NameRule::kUpcase);
           for (std::size_t at = 0; (at = key.find("\x01\x31")) != std::string::npos;) {
             key.replace(at, 2, std::string("\x00\x49", 2));  // ı as I
           }
           return key;
         };
       }},
      {"a copy never changes its own source",
       {Stick::kExt4, Stick::kExfatFuse},
       {},
       {{"a.txt", "a"}, {".salvatrix-AbCdEf.tmp", "user's"}, {"Docs/d.txt", "d"}},
       {{"E:\\a.txt", "E:\\a.txt"},
        {"E:\\.salvatrix-AbCdEf.tmp", "E:\\.salvatrix-AbCdEf.tmp"},
        {"E:\\Docs", "E:\\Docs", true}},
       {{".salvatrix-AbCdEf.tmp", "user's"}, {"Docs", "/"}, {"Docs/d.txt", "d"}, {"a.txt", "a"}}},
      {"a folder copy onto the folder that holds it fails before writing",
       {Stick::kExt4, Stick::kExfatFuse},
       {},
       {{"sub/a.txt", "user's"}, {"sub/sub/a.txt", "inner"}},
       {{"E:\\sub\\sub", "E:\\sub", true, CopyProblem::kContainsSource},
        {"E:\\sub", "/stick/sub/x", true, CopyProblem::kInsideSource}},
       {{"sub", "/"}, {"sub/a.txt", "user's"}, {"sub/sub", "/"}, {"sub/sub/a.txt", "inner"}}},
      {"inside a copied folder only links that stay inside are followed",
       {Stick::kExt4},
       {{"Tree/sub/f.txt", "f"},
        {"Tree/root", "@/"},
        {"Tree/up", "@.."},
        {"Tree/secret", "@../../secret.txt"},
        {"Tree/inside", "@sub"},
        {"Tree/again.txt", "@sub/f.txt"},
        {"Tree/sub/cycle", "@.."},
        {"Tree/fifo", "|"},
        {"Tree/dangling", "@nowhere"}},
       {},
       {{"/src/Tree", "E:\\Tree", true}},
       {{"Tree", "/"},
        {"Tree/again.txt", "f"},
        {"Tree/inside", "/"},
        {"Tree/inside/f.txt", "f"},
        {"Tree/sub", "/"},
        {"Tree/sub/f.txt", "f"}}},
      {"stale temporaries go; held ones and look-alikes stay",
       {Stick::kExt4, Stick::kExfatFuse},
       {{"a.txt", "a"}},
       {{".salvatrix-Stale0.tmp", "stale"},
        {".salvatrix-Held00.tmp", "held"},
        {".salvatrix-abcde.tmp", "user"},
        {".salvatrix-Folder.tmp/x", "x"},
        {".salvatrix-Linked.tmp", "@/outside/keep.txt"}},
       {{"/src/a.txt", "E:\\a.txt"}},
       {{".salvatrix-Folder.tmp", "/"},
        {".salvatrix-Folder.tmp/x", "x"},
        {".salvatrix-Held00.tmp", "held"},
        {".salvatrix-Linked.tmp", "@/outside/keep.txt"},
        {".salvatrix-abcde.tmp", "user"},
        {"a.txt", "a"}},
       nullptr,
       [](FakeFiles& files) { files.Hold("/stick/.salvatrix-Held00.tmp"); }},
      {"a read-only file is replaced even where a rename onto it is refused",
       {Stick::kExt4, Stick::kFoldingKernel},
       {{"a.txt", "new"}},
       {{"a.txt", "old"}},
       {{"/src/a.txt", "E:\\a.txt"}},
       {{"a.txt", "new"}},
       [](FakeVolume& volume) { volume.rename_refuses_read_only = true; },
       [](FakeFiles& files) {
         files.hook = [&files, done = false](const std::string&) mutable {
           if (!done) {
             done = true;
             files.SetReadOnly("/stick/a.txt", true);
           }
         };
       }},
      {"a file too large for the stick fails before a byte is written",
       {Stick::kExt4, Stick::kExfatFuse},
       {{"small", "12345678"}, {"big", "123456789"}},
       {{"big", "old"}},
       {{"/src/small", "E:\\small"}, {"/src/big", "E:\\big", false, CopyProblem::kTooLarge}},
       {{"big", "old"}, {"small", "12345678"}},
       [](FakeVolume& volume) { volume.traits.max_file_size = 8; }},
      {"a full stick keeps the old file and leaves nothing behind",
       {Stick::kExt4, Stick::kExfatFuse},
       {{"big", std::string(100, 'n')}, {"new", std::string(100, 'n')}},
       {{"big", "old"}},
       {{"/src/big", "E:\\big", false, std::nullopt, true},
        {"/src/new", "E:\\new", false, std::nullopt, true}},
       {{"big", "old"}},
       [](FakeVolume& volume) { volume.room = 50; }},
      {"a source saved while it is copied is not published",
       {Stick::kExt4, Stick::kExfatFuse},
       {{"shorter", "0123456789"}, {"longer", "0123456789"}, {"touched", "0123456789"}},
       {{"shorter", "old"}},
       {{"/src/shorter", "E:\\shorter", false, CopyProblem::kSourceChanged},
        {"/src/longer", "E:\\longer", false, CopyProblem::kSourceChanged},
        {"/src/touched", "E:\\touched", false, CopyProblem::kSourceChanged}},
       {{"shorter", "old"}},
       nullptr,
       [](FakeFiles& files) {
         files.hook = [&files](const std::string& event) {
           if (event == "fill /src/shorter") {
             files.Rewrite("/src/shorter", "01234");
           } else if (event == "fill /src/longer") {
             files.Rewrite("/src/longer", "0123456789 and more");
           } else if (event == "fill /src/touched") {
             files.Rewrite("/src/touched", "9876543210");
           }
         };
       }},
      {"a failing copy never removes the file another program put in its place",
       {Stick::kExt4, Stick::kExfatFuse},
       {{"big.bin", "ours"}},
       {},
       {{"/src/big.bin", "E:\\big.bin", false, CopyProblem::kSourceChanged}},
       {{"big.bin", "theirs"}},
       nullptr,
       [](FakeFiles& files) {
         files.hook = [&files](const std::string& event) {
           if (event == "fill /src/big.bin") {
             files.Make("/stick/big.bin", "theirs");
             files.Rewrite("/src/big.bin", "ours, saved again");
           }
         };
       }},
      {"the source of a folder copy must be a folder, and of a file copy a file",
       {Stick::kExt4},
       {{"a.txt", "a"}, {"fifo", "|"}, {"Docs/d", "d"}},
       {},
       {{"/src/a.txt", "E:\\a", true, CopyProblem::kNotAFolder},
        {"/src/fifo", "E:\\fifo", false, CopyProblem::kNotAFile},
        {"/src/Docs", "E:\\Docs", false, CopyProblem::kNotAFile}},
       {}},
  };
  return cases;
}

void RunCase(const Case& c, Stick stick) {
  FakeFiles files;
  FakeVolume volume = VolumeFor(stick);
  if (c.volume) {
    c.volume(volume);
  }
  files.Make("/outside/keep.txt", "keep");
  files.Make("/secret.txt", "secret");
  for (const auto& [path, what] : c.source) {
    files.Make("/src/" + path, what);
  }
  files.Mount("/stick", volume, 'E');
  for (const auto& [path, what] : c.before) {
    files.Make("/stick/" + path, what);
  }
  if (c.prepare) {
    c.prepare(files);
  }
  CopyPolicy policy(files);
  const auto object = policy.CreateObject();
  std::size_t failures = 0;
  for (const Call& call : c.calls) {
    SCOPED_TRACE(call.source + " -> " + call.destination);
    failures += call.refused || call.fails ? 1 : 0;
    try {
      call.folder ? object->CopyFolder(call.source, call.destination, c.overwrite)
                  : object->CopyFile(call.source, call.destination, c.overwrite);
      EXPECT_FALSE(call.refused || call.fails) << "copied";
    } catch (const CopyRefused& refused) {
      EXPECT_EQ(call.refused, refused.problem()) << refused.what();
    } catch (const Failure& failure) {
      EXPECT_TRUE(call.fails) << failure.what();
    }
  }
  object->Flush("E:\\");
  EXPECT_EQ(files.Tree("/stick"), c.after);
  EXPECT_EQ(files.Tree("/outside"), (Tree{{"keep.txt", "keep"}}));
  // One line for each failed copy, naming the item.
  ASSERT_EQ(files.reports.size(), failures);
  for (const std::string& line : files.reports) {
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.rfind("Copying ", 0), 0u) << line;
  }
}

TEST(CopyPolicyTest, EveryCaseOnEveryStickItConcerns) {
  for (const Case& c : Cases()) {
    for (const Stick stick : c.sticks) {
      SCOPED_TRACE(c.name + " on stick " + std::to_string(static_cast<int>(stick)));
      RunCase(c, stick);
    }
  }
}

// The keys follow the stick's up-case table, not the C library's idea of case.
TEST(NameKeyTest, FoldsAsExfatsTableDoes) {
  const struct {
    std::string a, b;
    bool one;
  } cases[] = {
      {"README.txt", "readme.txt", true},
      {"caf\xC3\xA9", "CAF\xC3\x89", true},                            // é, É
      {"\xD0\xB4\xD0\xBE\xD0\xBC", "\xD0\x94\xD0\x9E\xD0\x9C", true},  // дом, ДОМ
      {"\xC4\xB1", "I", false},                                        // dotless ı
      {"\xC5\xBF", "s", false},                                        // long ſ
      {"\xC2\xB5", "\xCE\xBC", false},                                 // micro µ, mu μ
      {"\xC7\x85", "\xC7\x84", false},                                 // ǅ, Ǆ
      {"\xF0\x9D\x90\x80", "\xF0\x9D\x90\x9A", false},                 // outside the table
      {"caf\xE9", "caf\xC9", false},                                   // not UTF-8: bytes stay
      {"\xED\xB3\xA9", "\xE9", false},                                 // no surrogate form
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a + " / " + c.b);
    EXPECT_EQ(NameKey(c.a, NameRule::kUpcase) == NameKey(c.b, NameRule::kUpcase), c.one);
    EXPECT_NE(NameKey(c.a, NameRule::kExact), NameKey(c.b, NameRule::kExact));
  }
}

}  // namespace
}  // namespace salvatrix
