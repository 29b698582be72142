#include "support/fake_files.h"

#include <cstring>
#include <optional>
#include <utility>

#include "platform/failure.h"

namespace salvatrix::testing {

struct FakeFiles::Node {
  enum class Type { kFile, kFolder, kLink, kFifo } type = Type::kFolder;
  std::string content;  // a file's bytes, a link's target
  std::int64_t time = 0;
  bool read_only = false;
  bool held = false;
  std::map<std::string, std::shared_ptr<Node>> children;  // by the spelling the volume keeps
  Node* parent = nullptr;
  std::string name;
  std::size_t volume = 0;
  std::uint64_t number = 0;
  std::shared_ptr<Node> mounted;  // the root of a volume mounted here
  Node* mount_point = nullptr;    // for a volume's root: where it is mounted
};

namespace {

using Node = FakeFiles::Node;

std::vector<std::string> Split(std::string_view path) {
  std::vector<std::string> names;
  std::string name;
  for (const char c : path) {
    if (c == '/' || c == '\\') {
      if (!name.empty()) {
        names.push_back(std::move(name));
      }
      name.clear();
    } else {
      name += c;
    }
  }
  if (!name.empty()) {
    names.push_back(std::move(name));
  }
  return names;
}

[[noreturn]] void Fail(const std::string& path, const char* why) {
  throw Failure(path + ": " + why);
}

EntryKind KindOf(const Node& node) {
  if (node.mounted) {
    return EntryKind::kMountPoint;
  }
  switch (node.type) {
    case Node::Type::kFile:
      return EntryKind::kFile;
    case Node::Type::kFolder:
      return EntryKind::kFolder;
    case Node::Type::kLink:
      return EntryKind::kLink;
    case Node::Type::kFifo:
      break;
  }
  return EntryKind::kOther;
}

}  // namespace

FakeFiles::FakeFiles() : root_(std::make_unique<Node>()) {
  volumes_.push_back(std::make_unique<FakeVolume>());
  root_->number = next_number_++;
}

FakeFiles::~FakeFiles() = default;

const FakeVolume& FakeFiles::VolumeOf(const Node* node) const {
  return *volumes_[node->volume];
}

Node* FakeFiles::RootOf(char letter) const {
  const auto drive = drives_.find(letter);
  return drive == drives_.end() ? nullptr : drive->second;
}

namespace {

// The entry name reaches in folder under the volume's rule, with the spelling it keeps.
std::pair<std::string, std::shared_ptr<Node>> Child(const FakeFiles& files, const Node& folder,
                                                    const std::string& name) {
  if (const auto exact = folder.children.find(name); exact != folder.children.end()) {
    return *exact;
  }
  const auto& fold = files.VolumeOf(&folder).fold;
  if (fold) {
    const std::string key = fold(name);
    for (const auto& child : folder.children) {
      if (fold(child.first) == key) {
        return child;
      }
    }
  }
  return {};
}

// Folders are entered through what is mounted on them; ".." of a volume's root leads out of it.
Node* Parent(Node* node) {
  if (node->mount_point != nullptr) {
    node = node->mount_point;
  }
  return node->parent;
}

}  // namespace

Node* FakeFiles::Find(const std::string& path, bool follow_last) const {
  Node* at = root_.get();
  std::string rest = path;
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') {
    at = RootOf(path[0]);
    rest = path.substr(3);
  }
  std::vector<std::string> names = Split(rest);
  for (int links = 0; at != nullptr && !names.empty() && links < 40;) {
    const std::string name = names.front();
    names.erase(names.begin());
    if (name == "..") {
      at = Parent(at) != nullptr ? Parent(at) : at;
      continue;
    }
    std::shared_ptr<Node> child = Child(*this, *at, name).second;
    if (child == nullptr) {
      return nullptr;
    }
    if (child->mounted) {
      child = child->mounted;
    }
    if (child->type == Node::Type::kLink && (follow_last || !names.empty())) {
      ++links;
      std::vector<std::string> target = Split(child->content);
      names.insert(names.begin(), target.begin(), target.end());
      if (child->content.starts_with('/')) {
        at = root_.get();
      }
      continue;
    }
    at = child.get();
  }
  return names.empty() ? at : nullptr;
}

std::string FakeFiles::PathOf(const Node* node) const {
  std::string path;
  for (; node != nullptr && node != root_.get(); node = Parent(const_cast<Node*>(node))) {
    const Node* named = node->mount_point != nullptr ? node->mount_point : node;
    path = "/" + named->name + path;
  }
  return path.empty() ? "/" : path;
}

void FakeFiles::Mount(const std::string& path, FakeVolume volume, char letter) {
  Make(path + "/", "");
  Node* point = Find(path, true);
  volumes_.push_back(std::make_unique<FakeVolume>(std::move(volume)));
  point->mounted = std::make_shared<Node>();
  point->mounted->volume = volumes_.size() - 1;
  point->mounted->number = next_number_++;
  point->mounted->mount_point = point;
  if (letter != 0) {
    drives_[letter] = point->mounted.get();
  }
}

void FakeFiles::Make(const std::string& path, const std::string& what) {
  std::vector<std::string> names = Split(path);
  const bool folder = path.ends_with('/');
  Node* at = path.size() >= 3 && path[1] == ':' ? RootOf(path[0]) : root_.get();
  if (path.size() >= 3 && path[1] == ':') {
    names = Split(path.substr(3));
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    auto [spelling, child] = Child(*this, *at, names[i]);
    if (child == nullptr || (last && !folder)) {
      child = std::make_shared<Node>();
      child->parent = at;
      child->name = names[i];
      child->volume = at->volume;
      child->number = next_number_++;
      child->time = ++clock_;
      if (last && !folder) {
        child->type = what.starts_with('@') ? Node::Type::kLink
                      : what == "|"         ? Node::Type::kFifo
                                            : Node::Type::kFile;
        child->content = what.starts_with('@') ? what.substr(1) : what;
      }
      at->children.erase(spelling);
      at->children[names[i]] = child;
    }
    at = child->mounted ? child->mounted.get() : child.get();
  }
}

void FakeFiles::SetReadOnly(const std::string& path, bool read_only) {
  Find(path, false)->read_only = read_only;
}

void FakeFiles::Rewrite(const std::string& path, const std::string& content, bool keep_time) {
  Node* file = Find(path, true);
  file->content = content;
  if (!keep_time) {
    file->time = ++clock_;
  }
}

void FakeFiles::Remove(const std::string& path) {
  Node* node = Find(path, false);
  node->parent->children.erase(node->name);
}

void FakeFiles::Hold(const std::string& path) {
  Find(path, false)->held = true;
}

std::map<std::string, std::string> FakeFiles::Tree(const std::string& path) const {
  std::map<std::string, std::string> tree;
  const std::function<void(const Node&, const std::string&)> walk = [&](const Node& folder,
                                                                        const std::string& at) {
    for (const auto& [name, child] : folder.children) {
      const std::string here = at.empty() ? name : at + "/" + name;
      const Node& node = child->mounted ? *child->mounted : *child;
      switch (node.type) {
        case Node::Type::kFolder:
          tree[here] = "/";
          walk(node, here);
          break;
        case Node::Type::kLink:
          tree[here] = "@" + node.content;
          break;
        case Node::Type::kFifo:
          tree[here] = "|";
          break;
        case Node::Type::kFile:
          tree[here] = node.content + (node.read_only ? " (read-only)" : "");
          break;
      }
    }
  };
  walk(*Find(path, true), "");
  return tree;
}

namespace {

EntryId IdOf(const FakeFiles& files, const Node& node, std::string_view spelling) {
  EntryId id;
  id.volume = node.volume + 1;
  std::memcpy(id.file.data(), &node.number, sizeof node.number);
  // Like a file system in user space that numbers every spelling of a name apart.
  if (!files.VolumeOf(&node).traits.ids_tell_spellings) {
    const std::size_t spelt = std::hash<std::string_view>{}(spelling);
    std::memcpy(id.file.data() + 8, &spelt, sizeof spelt);
  }
  return id;
}

std::uint64_t Used(const Node& folder) {
  std::uint64_t used = 0;
  for (const auto& [name, child] : folder.children) {
    used += child->type == Node::Type::kFile ? child->content.size() : Used(*child);
  }
  return used;
}

Node& VolumeRoot(Node& node) {
  Node* at = &node;
  while (at->mount_point == nullptr && at->parent != nullptr) {
    at = at->parent;
  }
  return *at;
}

class FakeSourceFile final : public SourceFile {
 public:
  FakeSourceFile(FakeFiles& files, std::shared_ptr<Node> node, EntryId folder)
      : files_(files), node_(std::move(node)), folder_(folder), at_open_(Stamp()) {}
  EntryId Id() const override { return IdOf(files_, *node_, node_->name); }
  EntryId FolderId() override { return folder_; }
  FileStamp AtOpen() const override { return at_open_; }
  FileStamp Stamp() override { return {node_->content.size(), node_->time}; }
  bool SizeTellsContent() override { return true; }
  bool HasByteAt(std::uint64_t offset) override { return node_->content.size() > offset; }

  // Moves up to limit bytes from the current position.
  std::string Take(std::uint64_t limit) {
    if (!hooked_) {
      hooked_ = true;
      files_.Hook("fill " + files_.PathOf(node_.get()));
    }
    const std::string bytes =
        position_ < node_->content.size() ? node_->content.substr(position_, limit) : std::string();
    position_ += bytes.size();
    return bytes;
  }
  std::int64_t Time() const { return node_->time; }

 private:
  FakeFiles& files_;
  std::shared_ptr<Node> node_;
  EntryId folder_;
  FileStamp at_open_;
  std::size_t position_ = 0;
  bool hooked_ = false;
};

class FakeNewFile final : public NewFile {
 public:
  FakeNewFile(FakeFiles& files, Node& folder, std::shared_ptr<Node> node)
      : files_(files), folder_(folder), node_(std::move(node)) {}

  EntryId Id() override { return IdOf(files_, *node_, node_->name); }
  std::uint64_t Fill(SourceFile& from, std::uint64_t limit) override {
    const std::string bytes = dynamic_cast<FakeSourceFile&>(from).Take(limit);
    const std::uint64_t used = Used(VolumeRoot(folder_)) + (named_ ? 0 : node_->content.size());
    const std::uint64_t room = files_.VolumeOf(&folder_).room;
    if (used + bytes.size() > room) {
      node_->content += bytes.substr(0, room > used ? room - used : 0);
      Fail(files_.PathOf(&folder_), "No space left on device");
    }
    node_->content += bytes;
    return bytes.size();
  }
  void TakeAttributes(SourceFile& from) override {
    node_->time = dynamic_cast<FakeSourceFile&>(from).Time();
  }
  void Commit() override {}
  bool Link(const std::string& name, bool as_temporary) override {
    if (Child(files_, folder_, name).second != nullptr) {
      return false;
    }
    node_->held = as_temporary;
    Place(name);
    return true;
  }
  void Rename(const std::string& name) override {
    files_.Hook("rename " + files_.PathOf(&folder_) + "/" + name);
    const auto [spelling, standing] = Child(files_, folder_, name);
    if (standing != nullptr && standing != node_) {
      if (standing->type == Node::Type::kFolder || standing->mounted) {
        Fail(files_.PathOf(standing.get()), "Is a directory");
      }
      if (standing->read_only && files_.VolumeOf(&folder_).rename_refuses_read_only) {
        Fail(files_.PathOf(standing.get()), "Access is denied");
      }
      folder_.children.erase(spelling);
    }
    folder_.children.erase(node_->name);
    Place(name);
  }
  void Close() override { node_->held = false; }
  void Discard() noexcept override {
    node_->held = false;
    if (named_) {
      const auto at = folder_.children.find(node_->name);
      if (at != folder_.children.end() && at->second == node_) {
        folder_.children.erase(at);
      }
    }
  }

  void Place(const std::string& name) {
    node_->name = name;
    folder_.children[name] = node_;
    named_ = true;
  }

 private:
  FakeFiles& files_;
  Node& folder_;
  std::shared_ptr<Node> node_;
  bool named_ = false;
};

class FakeSourceFolder;

std::unique_ptr<SourceFolder> OpenSource(FakeFiles& files, Node* node);

class FakeSourceFolder final : public SourceFolder {
 public:
  FakeSourceFolder(FakeFiles& files, Node& node) : files_(files), node_(node) {}
  EntryId Id() const override { return IdOf(files_, node_, node_.name); }
  std::vector<EntryId> Above() override {
    std::vector<EntryId> ids;
    for (Node* at = Parent(&node_); at != nullptr; at = Parent(at)) {
      ids.push_back(IdOf(files_, *at, at->name));
    }
    return ids;
  }
  std::vector<SourceEntry> List() override {
    std::vector<SourceEntry> entries;
    for (const auto& [name, child] : node_.children) {
      SourceEntry entry{name, child->mounted ? EntryKind::kFolder : KindOf(*child), {}};
      entry.target = entry.kind;
      if (entry.kind == EntryKind::kLink) {
        const Node* target = files_.Find(PathOf(name), true);
        entry.target = target == nullptr ? EntryKind::kOther : KindOf(*target);
      }
      entries.push_back(entry);
    }
    return entries;
  }
  std::unique_ptr<SourceFile> OpenFile(const std::string& name, EntryKind& found) override {
    const auto child = Child(files_, node_, name).second;
    found = child == nullptr ? EntryKind::kMissing
                             : (child->mounted ? EntryKind::kFolder : KindOf(*child));
    if (found != EntryKind::kFile) {
      return nullptr;
    }
    return std::make_unique<FakeSourceFile>(files_, child, Id());
  }
  std::unique_ptr<SourceFolder> OpenFolder(const std::string& name, EntryKind& found) override {
    const auto child = Child(files_, node_, name).second;
    found = child == nullptr ? EntryKind::kMissing
                             : (child->mounted ? EntryKind::kFolder : KindOf(*child));
    if (found != EntryKind::kFolder) {
      return nullptr;
    }
    return OpenSource(files_, child->mounted ? child->mounted.get() : child.get());
  }
  std::vector<std::string> RealPath() override { return Split(files_.PathOf(&node_)); }
  std::optional<std::vector<std::string>> RealPath(const std::string& name) override {
    const Node* target = files_.Find(PathOf(name), true);
    if (target == nullptr) {
      return std::nullopt;
    }
    return Split(files_.PathOf(target));
  }
  std::string PathOf(std::string_view name) const override {
    const std::string path = files_.PathOf(&node_);
    return path == "/" ? "/" + std::string(name) : path + "/" + std::string(name);
  }

 private:
  FakeFiles& files_;
  Node& node_;
};

std::unique_ptr<SourceFolder> OpenSource(FakeFiles& files, Node* node) {
  return std::make_unique<FakeSourceFolder>(files, *node);
}

class FakeDestination final : public DestinationFolder {
 public:
  FakeDestination(FakeFiles& files, Node& node, std::string spelling)
      : files_(files), node_(node), spelling_(std::move(spelling)) {}
  EntryId Id() const override { return IdOf(files_, node_, spelling_); }
  FolderTraits Traits() override { return files_.VolumeOf(&node_).traits; }
  std::vector<EntryId> Above() override { return FakeSourceFolder(files_, node_).Above(); }
  EntryInfo Look(const std::string& name) override {
    const auto child = Child(files_, node_, name).second;
    if (child == nullptr) {
      return {};
    }
    EntryInfo info{KindOf(*child), IdOf(files_, *child, name), false, child->read_only};
    if (info.kind == EntryKind::kLink) {
      const Node* target = files_.Find(PathOf(name), true);
      info.leads_to_folder = target != nullptr && target->type == Node::Type::kFolder;
    }
    return info;
  }
  std::vector<std::string> List() override {
    std::vector<std::string> names;
    for (const auto& child : node_.children) {
      names.push_back(child.first);
    }
    return names;
  }
  std::unique_ptr<DestinationFolder> Open(const std::string& name) override {
    const auto child = Child(files_, node_, name).second;
    if (child == nullptr || child->type != Node::Type::kFolder || child->mounted) {
      return nullptr;
    }
    return std::make_unique<FakeDestination>(files_, *child, name);
  }
  bool Make(const std::string& name, SourceFolder&) override {
    files_.Hook("create " + PathOf(name));
    if (Child(files_, node_, name).second != nullptr) {
      return false;
    }
    files_.Make(PathOf(name) + "/", "");
    return true;
  }
  void RemoveLink(const std::string& name, const EntryInfo& expected) override {
    const auto [spelling, child] = Child(files_, node_, name);
    if (child != nullptr && child->type == Node::Type::kLink &&
        IdOf(files_, *child, name) == expected.id) {
      node_.children.erase(spelling);
    }
  }
  void ClearReadOnly(const std::string& name, const EntryInfo&) override {
    if (const auto child = Child(files_, node_, name).second) {
      child->read_only = false;
    }
  }
  std::unique_ptr<NewFile> CreateFile(const std::string& name, Create how, SourceFile&) override {
    if (how == Create::kUnnamed && !Traits().unnamed_files) {
      return nullptr;
    }
    auto node = std::make_shared<Node>();
    node->type = Node::Type::kFile;
    node->parent = &node_;
    node->volume = node_.volume;
    node->number = files_.next_number_++;
    auto file = std::make_unique<FakeNewFile>(files_, node_, node);
    if (how != Create::kUnnamed) {
      files_.Hook("create " + PathOf(name));
      if (Child(files_, node_, name).second != nullptr) {
        return nullptr;
      }
      node->held = how == Create::kTemporary;
      file->Place(name);
    }
    return file;
  }
  bool RemoveStale(const std::string& name) override {
    const auto child = Child(files_, node_, name).second;
    if (child == nullptr || child->type != Node::Type::kFile || child->held) {
      return false;
    }
    node_.children.erase(child->name);
    return true;
  }
  std::string PathOf(std::string_view name) const override {
    return FakeSourceFolder(files_, node_).PathOf(name);
  }

 private:
  FakeFiles& files_;
  Node& node_;
  std::string spelling_;
};

class FakeSession final : public FileSession {
 public:
  explicit FakeSession(FakeFiles& files) : files_(files) {}

  std::unique_ptr<SourceFolder> OpenSourceFolder(std::string_view path, EntryKind& found) override {
    Node* node = files_.Find(std::string(path), true);
    found = node == nullptr ? EntryKind::kMissing : KindOf(*node);
    return found == EntryKind::kFolder ? OpenSource(files_, node) : nullptr;
  }
  std::unique_ptr<SourceFile> OpenSourceFile(std::string_view path, EntryKind& found) override {
    Node* node = files_.Find(std::string(path), true);
    found = node == nullptr ? EntryKind::kMissing : KindOf(*node);
    if (found != EntryKind::kFile) {
      return nullptr;
    }
    const EntryId folder = IdOf(files_, *Parent(node), Parent(node)->name);
    return std::make_unique<FakeSourceFile>(files_, node->parent->children.at(node->name), folder);
  }
  std::unique_ptr<DestinationFolder> OpenDestination(std::string_view destination,
                                                     std::string& name) override {
    const std::string path(destination);
    Node* folder = nullptr;
    if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') {
      folder = files_.RootOf(path[0]);
      name = path.substr(3);
    } else {
      const std::size_t slash = path.rfind('/');
      folder = files_.Find(path.substr(0, slash), true);
      name = path.substr(slash + 1);
    }
    if (folder == nullptr || folder->type != Node::Type::kFolder) {
      Fail(path, "No such file or directory");
    }
    return std::make_unique<FakeDestination>(files_, *folder, folder->name);
  }
  void Flush(std::string_view destination_root) override {
    files_.Hook("flush " + std::string(destination_root));
  }
  void Report(std::string_view line) override { files_.reports.emplace_back(line); }

 private:
  FakeFiles& files_;
};

}  // namespace

std::unique_ptr<FileSession> FakeFiles::StartSession() {
  return std::make_unique<FakeSession>(*this);
}

}  // namespace salvatrix::testing
