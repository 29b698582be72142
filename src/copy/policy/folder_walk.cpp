#include "copy/policy/folder_walk.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "copy/policy/copy_policy.h"
#include "platform/scope_exit.h"

namespace salvatrix {
namespace {

class Walk final {
 public:
  Walk(FileWriter& writer, SourceFolder& top, bool overwrite)
      : writer_(writer), top_(top), overwrite_(overwrite) {}

  void CopyFolder(SourceFolder& from, DestinationFolder& into) {
    // The folder is on the way down, and the job reads from it, while it is copied.
    up_.push_back(from.Id());
    writer_.Reading(from.Id());
    const ScopeExit done([this] {
      writer_.DoneReading();
      up_.pop_back();
    });
    for (const SourceEntry& entry : from.List()) {
      switch (entry.kind) {
        case EntryKind::kFile:
        case EntryKind::kFolder:
          CopyEntry(from, entry.name, into, entry.kind);
          break;
        case EntryKind::kLink:
          FollowLink(from, entry.name, into);
          break;
        default:
          break;  // FIFOs, sockets and devices are not files a person copies
      }
    }
  }

 private:
  // Opens name in from without following a link and copies it into into. A link that only
  // shows now (some systems mark none in the listing) takes the way of links.
  void CopyEntry(SourceFolder& from, const std::string& name, DestinationFolder& into,
                 EntryKind listed) {
    EntryKind found = listed;
    if (auto file = from.OpenFile(name, found)) {
      writer_.WriteFile(into, name, *file, overwrite_);
      return;
    }
    if (found == EntryKind::kFolder) {
      if (auto folder = from.OpenFolder(name, found)) {
        CopySubFolder(*folder, into, name);
        return;
      }
    }
    if (found == EntryKind::kLink) {
      FollowLink(from, name, into);
      return;
    }
    if (found == EntryKind::kMissing || found == EntryKind::kFile || found == EntryKind::kFolder) {
      throw CopyRefused(CopyProblem::kGone,
                        from.PathOf(name) + ": it went away while the folder was copied");
    }
  }

  void CopySubFolder(SourceFolder& folder, DestinationFolder& into, const std::string& name) {
    if (std::find(up_.begin(), up_.end(), folder.Id()) != up_.end()) {
      return;  // back up to a folder on the way down: it would never end
    }
    const auto target = writer_.EnterFolder(into, name, folder);
    CopyFolder(folder, *target);
  }

  // A link is followed only to what lies inside the copied folder, and then opened from the
  // top down without a link on the way, so that a link swapped meanwhile cannot lead out
  // either.
  void FollowLink(SourceFolder& from, const std::string& name, DestinationFolder& into) {
    const std::optional<std::vector<std::string>> where = from.RealPath(name);
    if (!where) {
      return;  // dangling, or a cycle of links
    }
    if (!top_real_) {
      top_real_ = top_.RealPath();
    }
    const std::vector<std::string>& top = *top_real_;
    if (where->size() <= top.size() || !std::equal(top.begin(), top.end(), where->begin())) {
      return;
    }
    SourceFolder* at = &top_;
    std::unique_ptr<SourceFolder> holder;
    for (std::size_t i = top.size(); i + 1 < where->size(); ++i) {
      EntryKind found = EntryKind::kMissing;
      holder = at->OpenFolder((*where)[i], found);
      if (holder == nullptr) {
        return;  // changed since it was resolved: not followed
      }
      at = holder.get();
    }
    const std::string& last = where->back();
    EntryKind found = EntryKind::kMissing;
    if (auto file = at->OpenFile(last, found)) {
      writer_.WriteFile(into, name, *file, overwrite_);
    } else if (found == EntryKind::kFolder) {
      if (auto folder = at->OpenFolder(last, found)) {
        CopySubFolder(*folder, into, name);
      }
    }
  }

  FileWriter& writer_;
  SourceFolder& top_;
  bool overwrite_;
  std::optional<std::vector<std::string>> top_real_;
  std::vector<EntryId> up_;  // the source folders from the top down to the current one
};

}  // namespace

void CopyTree(FileWriter& writer, SourceFolder& top, DestinationFolder& into, bool overwrite) {
  Walk(writer, top, overwrite).CopyFolder(top, into);
}

}  // namespace salvatrix
