#include "copy/policy/copy_policy.h"

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "copy/policy/file_writer.h"
#include "copy/policy/folder_walk.h"

namespace salvatrix {
namespace {

bool Holds(const std::vector<EntryId>& ids, const EntryId& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// A listing for the source lists: a link counts as what it leads to; FIFOs, sockets, devices
// and dangling links are neither files nor folders.
class ListedFolder final : public Folder {
 public:
  explicit ListedFolder(std::vector<SourceEntry> entries) : entries_(std::move(entries)) {}

  void ForEachFile(const std::function<void(std::string)>& visit) override {
    ForEach(EntryKind::kFile, visit);
  }
  void ForEachSubFolder(const std::function<void(std::string)>& visit) override {
    ForEach(EntryKind::kFolder, visit);
  }

 private:
  void ForEach(EntryKind wanted, const std::function<void(std::string)>& visit) {
    for (const SourceEntry& entry : entries_) {
      if (entry.target == wanted) {
        visit(entry.name);
      }
    }
  }

  std::vector<SourceEntry> entries_;
};

class PolicyObject final : public FileSystemObject {
 public:
  explicit PolicyObject(std::unique_ptr<FileSession> session) : session_(std::move(session)) {}

  std::unique_ptr<Folder> GetFolder(std::string_view path) override {
    return std::make_unique<ListedFolder>(OpenFolder(path)->List());
  }

  void CopyFile(std::string_view source, std::string_view destination, bool overwrite) override {
    Reported(source, destination, [&] {
      EntryKind found = EntryKind::kMissing;
      auto file = session_->OpenSourceFile(source, found);
      if (file == nullptr) {
        throw CopyRefused(CopyProblem::kNotAFile,
                          std::string(source) + ": " +
                              (found == EntryKind::kFolder ? "it is a folder" : "no regular file"));
      }
      std::string name;
      auto folder = session_->OpenDestination(destination, name);
      writer_.WriteFile(*folder, name, *file, overwrite);
    });
  }

  void CopyFolder(std::string_view source, std::string_view destination, bool overwrite) override {
    Reported(source, destination, [&] {
      auto top = OpenFolder(source);
      std::string name;
      auto parent = session_->OpenDestination(destination, name);
      const EntryInfo standing = parent->Look(name);
      if (standing.kind == EntryKind::kFolder && standing.id == top->Id()) {
        return;  // the folder is its own target: it stays as it is
      }
      const std::string path = parent->PathOf(name);
      if (parent->Id() == top->Id() || Holds(parent->Above(), top->Id())) {
        throw CopyRefused(CopyProblem::kInsideSource,
                          path + ": the target lies inside the folder being copied");
      }
      if (standing.kind == EntryKind::kFolder && Holds(top->Above(), standing.id)) {
        throw CopyRefused(CopyProblem::kContainsSource,
                          path + ": the target holds the folder being copied");
      }
      const auto into = writer_.EnterFolder(*parent, name, *top);
      CopyTree(writer_, *top, *into, overwrite);
    });
  }

  void Flush(std::string_view destination_root) override {
    Reported({}, destination_root, [&] { session_->Flush(destination_root); });
  }

 private:
  std::unique_ptr<SourceFolder> OpenFolder(std::string_view path) {
    EntryKind found = EntryKind::kMissing;
    auto folder = session_->OpenSourceFolder(path, found);
    if (folder == nullptr) {
      throw CopyRefused(CopyProblem::kNotAFolder, std::string(path) + ": no folder");
    }
    return folder;
  }

  // A failure goes on to the job as it is, and out as one line for whoever looks into it.
  template <typename Copy>
  void Reported(std::string_view source, std::string_view destination, Copy copy) {
    try {
      copy();
    } catch (const Failure& failure) {
      std::string line = source.empty()
                             ? "Flushing " + std::string(destination)
                             : "Copying " + std::string(source) + " to " + std::string(destination);
      line += " failed: ";
      line += failure.what();
      std::replace(line.begin(), line.end(), '\n', ' ');
      std::replace(line.begin(), line.end(), '\r', ' ');
      session_->Report(line);
      throw;
    }
  }

  std::unique_ptr<FileSession> session_;
  FileWriter writer_;
};

}  // namespace

std::unique_ptr<FileSystemObject> CopyPolicy::CreateObject() {
  return std::make_unique<PolicyObject>(primitives_.StartSession());
}

}  // namespace salvatrix
