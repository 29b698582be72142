#pragma once

// The writing side of one copy job: what it wrote where, and the rules for writing a file or
// entering a folder on an untrusted destination (see CopyPolicy).

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file_primitives.h"

namespace salvatrix {

class FileWriter final {
 public:
  /// Writes the open source as name into folder, replacing what stands there when overwrite
  /// is set. Fails with CopyRefused or the system's failure; the old file stays then.
  void WriteFile(DestinationFolder& folder, const std::string& name, SourceFile& source,
                 bool overwrite);

  /// Opens the folder name in parent to write in, making it (like like) when it is missing.
  std::unique_ptr<DestinationFolder> EnterFolder(DestinationFolder& parent, const std::string& name,
                                                 SourceFolder& like);

  /// The job reads from folder from now on, until Done: its temporaries are not the job's to
  /// clean.
  void Reading(const EntryId& folder) { reading_.push_back(folder); }
  void DoneReading() { reading_.pop_back(); }

 private:
  // What the job knows about one destination folder.
  struct FolderState {
    FolderTraits traits;
    bool cleaned = false;
    // The folder's names as it spells them, read at most once (and again when a name turns up
    // that it does not explain), with the names the job wrote since.
    bool listed = false;
    std::unordered_set<std::string> listing;
    std::unordered_multimap<std::string, std::string> listing_by_key;
    // What the job wrote: by name, by identity, by key.
    std::unordered_map<std::string, EntryId> written;
    std::map<EntryId, std::string> written_by_id;
    std::unordered_multimap<std::string, std::string> written_by_key;
  };

  FolderState& StateOf(DestinationFolder& folder, bool made = false);
  void Read(DestinationFolder& folder, FolderState& state);
  void Clean(DestinationFolder& folder, FolderState& state, SourceFile* source);
  void Note(FolderState& state, const std::string& name, const EntryId& id);

  /// Whether the destination takes name (where standing stands) for an entry the job wrote
  /// under another name.
  bool OneEntryWithAnother(DestinationFolder& folder, FolderState& state, const std::string& name,
                           const EntryInfo& standing);
  /// Fails unless what stands at name may be replaced by a file.
  void CheckReplace(DestinationFolder& folder, FolderState& state, const std::string& name,
                    const EntryInfo& standing, bool overwrite);

  std::map<EntryId, FolderState> folders_;
  std::vector<EntryId> reading_;
};

}  // namespace salvatrix
