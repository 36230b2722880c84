#include "Engine.h"

#include <cctype>

#include "TextCase.h"
#include <filesystem>

namespace xb {

int Engine::Select(int area) {
  int previous = current_;
  if (area >= 1 && area <= kMaxAreas) current_ = area;
  return previous;
}

WorkArea* Engine::RequireCurrent() {
  WorkArea* wa = Current();
  if (wa == nullptr)
    Fail(Status::NotOpen("no table is open in work area " + std::to_string(current_)));
  return wa;
}

int Engine::FindAlias(const std::string& alias) const {
  const std::string a = UpperAscii(alias);
  for (int i = 1; i <= kMaxAreas; ++i) {
    if (areas_[i] && areas_[i]->alias() == a) return i;
    if (pending_[i] && pending_[i]->alias == a) return i;
  }
  return 0;
}

int Engine::FreeArea() const {
  for (int i = 1; i <= kMaxAreas; ++i)
    if (!areas_[i] && !pending_[i]) return i;
  return 0;
}

std::string Engine::AliasFromPath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  return UpperAscii(std::filesystem::path(p).stem().string());
}

int Engine::BeginCreate(const std::string& path, const std::string& alias, int driver,
                        int field_count) {
  if (path.empty()) {
    Fail(Status::InvalidArgument("no file name given for the new table"));
    return 0;
  }
  if (field_count < 1 || field_count > 254) {
    Fail(Status::InvalidArgument("a table needs 1 to 254 fields, not " +
                                 std::to_string(field_count)));
    return 0;
  }
  std::string a = alias.empty() ? AliasFromPath(path) : UpperAscii(alias);
  if (FindAlias(a) != 0) {
    Fail(Status::InvalidArgument("alias " + a + " is already in use"));
    return 0;
  }
  int area = FreeArea();
  if (area == 0) {
    Fail(Status::InvalidArgument("all 256 work areas are in use"));
    return 0;
  }
  auto p = std::make_unique<PendingCreate>();
  p->path = path;
  p->alias = a;
  p->driver = driver;
  p->fields.reserve(static_cast<size_t>(field_count));
  pending_[area] = std::move(p);
  current_ = area;
  Succeed();
  return area;
}

bool Engine::AddField(FieldDef field) {
  PendingCreate* p = pending_[current_].get();
  if (p == nullptr) {
    Fail(Status::InvalidArgument("no table is being defined in work area " +
                                 std::to_string(current_)));
    return false;
  }
  p->fields.push_back(std::move(field));
  Succeed();
  return true;
}

bool Engine::ExecCreate() {
  std::unique_ptr<PendingCreate> p = std::move(pending_[current_]);
  if (!p) {
    Fail(Status::InvalidArgument("no table is being defined in work area " +
                                 std::to_string(current_)));
    return false;
  }
  Status s = Table::Create(p->path, p->fields, static_cast<uint32_t>(settings_.memo_block_size));
  if (!s.ok()) {
    Fail(s);
    return false;
  }
  std::unique_ptr<Table> t;
  s = Table::Open(p->path, Table::Mode::kExclusive, &t);
  if (!s.ok()) {
    Fail(s);
    return false;
  }
  areas_[current_] = std::make_unique<WorkArea>(std::move(t), p->alias, p->driver, &settings_);
  Succeed();
  return true;
}

int Engine::Open(const std::string& path, const std::string& alias, int mode, int driver) {
  if (path.empty()) {
    Fail(Status::InvalidArgument("no file name given"));
    return 0;
  }
  if (mode < 0 || mode > 2) {
    Fail(Status::InvalidArgument("open mode " + std::to_string(mode) + " is not 0, 1 or 2"));
    return 0;
  }
  std::string a = alias.empty() ? AliasFromPath(path) : UpperAscii(alias);
  if (FindAlias(a) != 0) {
    Fail(Status::InvalidArgument("alias " + a + " is already in use"));
    return 0;
  }
  int area = FreeArea();
  if (area == 0) {
    Fail(Status::InvalidArgument("all 256 work areas are in use"));
    return 0;
  }
  std::unique_ptr<Table> t;
  Status s = Table::Open(path, static_cast<Table::Mode>(mode), &t);
  if (!s.ok()) {
    Fail(s);
    return 0;
  }
  areas_[area] = std::make_unique<WorkArea>(std::move(t), a, driver, &settings_);
  current_ = area;
  Succeed();
  return area;
}

bool Engine::Close(int area) {
  if (area == 0) area = current_;
  if (area < 1 || area > kMaxAreas) {
    Fail(Status::InvalidArgument("work area " + std::to_string(area) + " does not exist"));
    return false;
  }
  pending_[area].reset();
  if (!areas_[area]) {
    Succeed();
    return true;
  }
  Status s = areas_[area]->table().Close();
  areas_[area].reset();
  if (!s.ok()) {
    Fail(s);
    return false;
  }
  Succeed();
  return true;
}

void Engine::CloseAll() {
  Status first;
  for (int i = 1; i <= kMaxAreas; ++i) {
    pending_[i].reset();
    if (areas_[i]) {
      Status s = areas_[i]->table().Close();
      if (!s.ok() && first.ok()) first = s;
      areas_[i].reset();
    }
  }
  current_ = 1;
  if (first.ok())
    Succeed();
  else
    Fail(first);
}

void Engine::Fail(const Status& s) { last_ = s; }

}  // namespace xb
