#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "EngineSettings.h"
#include "FieldDef.h"
#include "Status.h"
#include "WorkArea.h"

namespace xb {

// The engine's state behind the xb_ calls: 256 work areas, the current one, the settings and the
// outcome of the last call. One per process; the program uses it from one thread.
class Engine {
 public:
  static constexpr int kMaxAreas = 256;

  static Engine& Instance() {
    static Engine engine;
    return engine;
  }

  EngineSettings& settings() { return settings_; }

  int current() const { return current_; }
  int Select(int area);  // returns the previous area
  WorkArea* Area(int area) const {
    return area >= 1 && area <= kMaxAreas ? areas_[static_cast<size_t>(area)].get() : nullptr;
  }
  WorkArea* Current() const { return areas_[static_cast<size_t>(current_)].get(); }
  // The current area's table, or a failure recorded for the caller.
  WorkArea* RequireCurrent();
  int FindAlias(const std::string& alias) const;
  int FreeArea() const;

  // Table creation is three calls: the definition waits in a reserved area.
  int BeginCreate(const std::string& path, const std::string& alias, int driver, int field_count);
  bool AddField(FieldDef field);
  bool ExecCreate();

  int Open(const std::string& path, const std::string& alias, int mode, int driver);
  bool Close(int area);
  void CloseAll();

  // Outcome of the last call.
  void Fail(const Status& s);
  void Succeed() {
    if (!last_.ok()) last_ = Status::Ok();
  }
  const Status& last() const { return last_; }

 private:
  Engine() = default;
  static std::string AliasFromPath(const std::string& path);

  struct PendingCreate {
    std::string path;
    std::string alias;
    int driver = 2;
    std::vector<FieldDef> fields;
  };

  EngineSettings settings_;
  std::array<std::unique_ptr<WorkArea>, kMaxAreas + 1> areas_;
  std::array<std::unique_ptr<PendingCreate>, kMaxAreas + 1> pending_;
  int current_ = 1;
  Status last_;
};

}  // namespace xb
