#include "copy/policy/file_writer.h"

#include <algorithm>
#include <limits>

#include "copy/policy/copy_policy.h"
#include "copy/policy/name_keys.h"
#include "platform/scope_exit.h"

namespace salvatrix {
namespace {

// mkstemp tries as many names; a folder where all of them are taken is not one we can use.
constexpr int kTemporaryAttempts = 100;
// A name that somebody else keeps swapping while we look at it: after this many rounds the
// copy gives up rather than loop.
constexpr int kEnterAttempts = 4;

[[noreturn]] void Refuse(CopyProblem problem, const std::string& path, std::string_view why) {
  throw CopyRefused(problem, path + ": " + std::string(why));
}

// Exactly the source's size at open, nothing after it, and the same size and time at the end:
// a source saved while it was copied would give a copy that matches neither version.
void FillChecked(NewFile& out, SourceFile& source, const FileStamp& at_open,
                 const std::string& path) {
  const std::uint64_t moved = out.Fill(source, at_open.size);
  if (moved < at_open.size) {
    Refuse(CopyProblem::kSourceChanged, path, "the source became shorter while it was copied");
  }
  if (source.HasByteAt(at_open.size)) {
    if (source.SizeTellsContent()) {
      Refuse(CopyProblem::kSourceChanged, path, "the source grew while it was copied");
    }
    // A kernel file whose size says nothing: all of it, as far as it goes.
    out.Fill(source, std::numeric_limits<std::uint64_t>::max());
    return;
  }
  if (source.Stamp() != at_open) {
    Refuse(CopyProblem::kSourceChanged, path, "the source changed while it was copied");
  }
}

std::unique_ptr<NewFile> CreateTemporary(DestinationFolder& folder, SourceFile& like) {
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    if (auto file =
            folder.CreateFile(TemporaryName(), DestinationFolder::Create::kTemporary, like)) {
      return file;
    }
  }
  Refuse(CopyProblem::kExists, folder.PathOf(""), "no free name for a temporary file");
}

}  // namespace

FileWriter::FolderState& FileWriter::StateOf(DestinationFolder& folder, bool made) {
  auto [state, unseen] = folders_.try_emplace(folder.Id());
  if (unseen) {
    state->second.traits = folder.Traits();
    // A folder made now has nothing of anybody else's in it.
    state->second.cleaned = made;
    state->second.listed = made;
  }
  return state->second;
}

void FileWriter::Read(DestinationFolder& folder, FolderState& state) {
  state.listing.clear();
  state.listing_by_key.clear();
  for (std::string& name : folder.List()) {
    if (!state.traits.ids_tell_spellings) {
      state.listing_by_key.emplace(NameKey(name, state.traits.names), name);
    }
    state.listing.insert(std::move(name));
  }
  state.listed = true;
}

void FileWriter::Clean(DestinationFolder& folder, FolderState& state, SourceFile* source) {
  if (state.cleaned) {
    return;
  }
  state.cleaned = true;
  if (!state.listed) {
    Read(folder, state);
  }
  std::vector<std::string> stale;
  for (const std::string& name : state.listing) {
    if (IsTemporaryName(name)) {
      stale.push_back(name);
    }
  }
  if (stale.empty()) {
    return;
  }
  // The job's own sources are the user's files, whatever their names look like.
  const EntryId id = folder.Id();
  if (std::find(reading_.begin(), reading_.end(), id) != reading_.end() ||
      (source != nullptr && source->Id().volume == id.volume && source->FolderId() == id)) {
    return;
  }
  for (const std::string& name : stale) {
    if (folder.RemoveStale(name)) {
      state.listing.erase(name);
    }
  }
  if (!state.traits.ids_tell_spellings) {
    state.listing_by_key.clear();
    for (const std::string& name : state.listing) {
      state.listing_by_key.emplace(NameKey(name, state.traits.names), name);
    }
  }
}

void FileWriter::Note(FolderState& state, const std::string& name, const EntryId& id) {
  const auto [written, unseen] = state.written.try_emplace(name, id);
  if (!unseen) {
    state.written_by_id.erase(written->second);
    written->second = id;
  }
  // Where identities tell, they are all that is asked about what the job wrote.
  if (state.traits.ids_tell_spellings) {
    state.written_by_id[id] = name;
    return;
  }
  const std::string key = NameKey(name, state.traits.names);
  if (unseen) {
    state.written_by_key.emplace(key, name);
  }
  if (state.listed && state.listing.insert(name).second) {
    state.listing_by_key.emplace(key, name);
  }
}

bool FileWriter::OneEntryWithAnother(DestinationFolder& folder, FolderState& state,
                                     const std::string& name, const EntryInfo& standing) {
  if (state.written.empty()) {
    return false;  // nothing of the job's to take it for
  }
  if (state.traits.ids_tell_spellings) {
    const auto written = state.written_by_id.find(standing.id);
    return written != state.written_by_id.end() && written->second != name;
  }
  // The destination's rule says which names are one entry; its listing, read once, says
  // whether it really keeps two of them apart. Asked again once when it explains nothing:
  // another program may have written meanwhile.
  const std::string key = NameKey(name, state.traits.names);
  for (int round = 0; round < 2; ++round) {
    if (!state.listed || round == 1) {
      Read(folder, state);
    }
    const bool listed = state.listing.contains(name);
    const auto [first, last] = state.written_by_key.equal_range(key);
    for (auto written = first; written != last; ++written) {
      if (written->second != name && !(listed && state.listing.contains(written->second))) {
        return true;
      }
    }
    if (listed) {
      return false;
    }
    // Reached through another spelling: an entry that was there before the job is replaced
    // as any same-named file is.
    const auto [spelt, end] = state.listing_by_key.equal_range(key);
    for (auto other = spelt; other != end; ++other) {
      if (!state.written.contains(other->second)) {
        return false;
      }
    }
  }
  // The destination folds name onto an entry its rule cannot name; it may be one of ours.
  return true;
}

void FileWriter::CheckReplace(DestinationFolder& folder, FolderState& state,
                              const std::string& name, const EntryInfo& standing, bool overwrite) {
  const std::string path = folder.PathOf(name);
  switch (standing.kind) {
    case EntryKind::kMissing:
      return;  // gone since: the name is free again
    case EntryKind::kFolder:
      Refuse(CopyProblem::kFolderInTheWay, path, "a folder stands where the file goes");
    case EntryKind::kMountPoint:
      Refuse(CopyProblem::kMountPoint, path, "another file system is mounted there");
    default:
      break;  // a file, a link or a FIFO is replaced, never written through
  }
  if (!overwrite) {
    Refuse(CopyProblem::kExists, path, "it exists");
  }
  if (OneEntryWithAnother(folder, state, name, standing)) {
    Refuse(CopyProblem::kTwoNamesOneEntry, path,
           "the destination takes this name for one this copy wrote under another");
  }
}

void FileWriter::WriteFile(DestinationFolder& folder, const std::string& name, SourceFile& source,
                           bool overwrite) {
  const std::string path = folder.PathOf(name);
  FolderState& state = StateOf(folder);
  const FileStamp at_open = source.AtOpen();
  if (at_open.size > state.traits.max_file_size) {
    Refuse(CopyProblem::kTooLarge, path, "the file is too large for the destination");
  }
  // Only a file on the destination's own volume can be the target itself.
  std::optional<EntryInfo> standing;
  if (source.Id().volume == folder.Id().volume) {
    standing = folder.Look(name);
    if (standing->kind == EntryKind::kFile && standing->id == source.Id()) {
      return;
    }
  }
  Clean(folder, state, &source);

  // Unnamed until complete where the system can, which leaves nothing behind even when the
  // program dies; else under its own name when that is free, which costs no rename; else a
  // temporary that replaces the old file once complete.
  enum class Target { kUnnamed, kNamed, kTemporary } target = Target::kUnnamed;
  std::unique_ptr<NewFile> out;
  if (state.traits.unnamed_files) {
    out = folder.CreateFile(name, DestinationFolder::Create::kUnnamed, source);
  }
  if (out == nullptr) {
    target = Target::kNamed;
    const bool free = !standing || standing->kind == EntryKind::kMissing;
    if (free) {
      out = folder.CreateFile(name, DestinationFolder::Create::kNamed, source);
    }
    if (out == nullptr) {
      if (free) {
        standing = folder.Look(name);
      }
      CheckReplace(folder, state, name, *standing, overwrite);
      target = Target::kTemporary;
      out = CreateTemporary(folder, source);
    }
  }
  // Nothing of a failed copy stays.
  ScopeExit discard([&out] { out->Discard(); });
  FillChecked(*out, source, at_open, path);
  out->TakeAttributes(source);
  out->Commit();
  if (target == Target::kUnnamed) {
    if (out->Link(name, false)) {
      target = Target::kNamed;
    } else {
      standing = folder.Look(name);
      CheckReplace(folder, state, name, *standing, overwrite);
      target = Target::kTemporary;
      int attempt = 0;
      while (!out->Link(TemporaryName(), true)) {
        if (++attempt == kTemporaryAttempts) {
          Refuse(CopyProblem::kExists, path, "no free name for a temporary file");
        }
      }
    }
  }
  if (target == Target::kTemporary) {
    if (standing->read_only) {
      folder.ClearReadOnly(name, *standing);
    }
    if (standing->kind == EntryKind::kLink && standing->leads_to_folder) {
      folder.RemoveLink(name, *standing);
    }
    out->Rename(name);
    // It replaced the old file: from here on it stays, whatever closing it says.
    discard.Dismiss();
  }
  // A file that took a free name is removed again when closing it reports a late write error.
  const EntryId id = out->Id();
  out->Close();
  discard.Dismiss();
  // A name that replaced an entry spelt otherwise leaves a listing that no longer tells.
  if (!state.traits.ids_tell_spellings && state.listed && standing &&
      standing->kind != EntryKind::kMissing && !state.listing.contains(name)) {
    state.listed = false;
  }
  Note(state, name, id);
}

std::unique_ptr<DestinationFolder> FileWriter::EnterFolder(DestinationFolder& parent,
                                                           const std::string& name,
                                                           SourceFolder& like) {
  const std::string path = parent.PathOf(name);
  FolderState& state = StateOf(parent);
  for (int attempt = 0; attempt < kEnterAttempts; ++attempt) {
    const bool made = parent.Make(name, like);
    if (!made) {
      const EntryInfo standing = parent.Look(name);
      switch (standing.kind) {
        case EntryKind::kMissing:
          continue;  // removed since: make it again
        case EntryKind::kLink:
          // Whatever it leads to is none of this copy's business.
          parent.RemoveLink(name, standing);
          continue;
        case EntryKind::kMountPoint:
          Refuse(CopyProblem::kMountPoint, path, "another file system is mounted there");
        case EntryKind::kFolder:
          if (OneEntryWithAnother(parent, state, name, standing)) {
            Refuse(CopyProblem::kTwoNamesOneEntry, path,
                   "the destination takes this name for one this copy wrote under another");
          }
          break;
        default:
          Refuse(CopyProblem::kFileInTheWay, path, "a file stands where the folder goes");
      }
    }
    auto folder = parent.Open(name);
    if (folder == nullptr) {
      continue;  // swapped for a link or a mount since: judged again
    }
    Note(state, name, folder->Id());
    StateOf(*folder, made);
    return folder;
  }
  Refuse(CopyProblem::kGone, path, "it keeps changing while it is copied");
}

}  // namespace salvatrix
