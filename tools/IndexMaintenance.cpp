#include "IndexMaintenance.h"

#include <cctype>
#include <filesystem>
#include <memory>

#include "CdxFile.h"
#include "Expression.h"
#include "IndexSet.h"
#include "ZeroExtendedFile.h"

namespace {

std::string Plural(size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// A tag name the engine accepts for a new tag: 1-10 letters, digits or _, starting with a letter.
bool IsTagName(const std::string& name) {
  if (name.empty() || name.size() > 10 || !std::isalpha(static_cast<unsigned char>(name[0])))
    return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

// Whether the table's records are indexed anywhere at all.
bool HasIndex(xb::Table& table) {
  return table.indexes().HasStructural() || table.indexes().OrderCount() > 0;
}

}  // namespace

IndexMaintenance::CheckReport IndexMaintenance::Check(xb::Table& table,
                                                      const std::string& table_arg) {
  CheckReport report = CheckIndexes(table, table_arg);
  // The memo file is checked whatever became of the indexes: its problems are listed with the
  // others and named in the summary.
  std::vector<std::string> memo_problems;
  const xb::Status memo = table.CheckMemos(&memo_problems);
  if (memo.ok()) return report;
  report.problems.insert(report.problems.end(), memo_problems.begin(), memo_problems.end());
  const std::string ok = ", ok";
  if (report.summary.size() > ok.size() &&
      report.summary.compare(report.summary.size() - ok.size(), ok.size(), ok) == 0)
    report.summary.resize(report.summary.size() - ok.size());
  report.summary += "; " + memo.message();
  report.ok = false;
  return report;
}

IndexMaintenance::CheckReport IndexMaintenance::CheckIndexes(xb::Table& table,
                                                             const std::string& table_arg) {
  CheckReport report;
  const std::string advice = " (xbtool reindex " + table_arg + ")";
  if (!table.index_problem().empty()) {
    report.summary = "check: the index cannot be used: " + table.index_problem() + advice;
    return report;
  }
  if (!HasIndex(table)) {
    report.summary = "check: no index to check";
    report.ok = true;
    return report;
  }
  const xb::Status s = table.CheckIndexes(&report.problems);
  if (!s.ok()) {
    // The engine's message counts every problem, also those it did not list one by one.
    report.summary = "check: " + s.message() + advice;
    return report;
  }
  report.summary = "check: " + Plural(static_cast<size_t>(table.indexes().OrderCount()), "tag") +
                   ", " + Plural(table.record_count(), "record") + ", ok";
  report.ok = true;
  return report;
}

xb::Status IndexMaintenance::VerifyOrder(xb::Table& table, int order) {
  // Other programs sharing the table wait while the tag is read through.
  xb::Table::LockScope look(table, false, table.SharesIndexes());
  if (!look.status().ok()) return look.status();
  xb::IndexSet::Order* o = table.indexes().GetOrder(order);
  if (o == nullptr) return xb::Status::NotFound("there is no order " + std::to_string(order));
  const std::string label = o->file_path + ": tag " + o->name + ": ";
  xb::Status s = o->tag->Check();
  if (!s.ok()) return xb::Status::Corrupt(s.message());
  const uint32_t count = table.record_count();
  uint32_t bad = 0;
  s = o->tag->ForEach([&](std::string_view, uint32_t recno) {
    if (recno >= 1 && recno <= count) return true;
    bad = recno;
    return false;
  });
  if (!s.ok()) return xb::Status::Corrupt(label + s.message());
  if (bad != 0)
    return xb::Status::Corrupt(label + "an entry names record " + std::to_string(bad) +
                               ", but the table has " + Plural(count, "record"));
  return xb::Status::Ok();
}

xb::Status IndexMaintenance::ReadTagDefinitions(const std::string& path,
                                                std::vector<xb::CdxTagInfo>* tags) {
  std::unique_ptr<xb::CdxBlockDevice> device;
  xb::Status s = ZeroExtendedFile::Open(path, &device);
  if (!s.ok()) return s;
  std::unique_ptr<xb::CdxFile> file;
  s = xb::CdxFile::OpenDevice(std::move(device), true, &file);
  if (!s.ok()) return s;
  *tags = file->Tags();
  return file->Close();
}

xb::Status IndexMaintenance::Recreate(xb::Table& table, const std::string& cdx_path, int* tags) {
  std::vector<xb::CdxTagInfo> defs;
  xb::Status s = ReadTagDefinitions(cdx_path, &defs);
  const std::string start_over =
      "; delete " + cdx_path + " and build the tags again with 'xbtool index'";
  if (!s.ok())
    return xb::Status::Corrupt("the tags of " + cdx_path + " cannot be read (" + s.message() +
                               ")" + start_over);
  // Every definition must fit the table before the old file is given up: a rebuild that stops
  // half way would lose the definitions still to come.
  for (const auto& d : defs) {
    const std::string what = cdx_path + ": tag " + d.name + ": ";
    if (!IsTagName(d.name))
      return xb::Status::Corrupt(what + "the name is damaged" + start_over);
    std::unique_ptr<xb::Expression> e;
    s = xb::Expression::Compile(d.key_expression, table.fields(), &e);
    if (!s.ok())
      return xb::Status::Corrupt(what + "key '" + d.key_expression + "' does not fit the table (" +
                                 s.message() + ")" + start_over);
    if (!d.for_expression.empty()) {
      s = xb::Expression::Compile(d.for_expression, table.fields(), &e);
      if (!s.ok() || e->type() != xb::Expression::kLogical)
        return xb::Status::Corrupt(what + "condition '" + d.for_expression +
                                   "' is not a logical expression of the table" + start_over);
    }
    if (d.unique)
      return xb::Status::InvalidArgument(what + "unique tags cannot be built by this tool" +
                                         start_over);
  }
  *tags = 0;
  for (const auto& d : defs) {
    int order = 0;
    s = table.AddTag("", d.name, d.key_expression, d.for_expression, d.descending, nullptr, &order);
    if (!s.ok())
      return xb::Status::Corrupt(s.message() + " (" + std::to_string(*tags) + " of " +
                                 std::to_string(defs.size()) + " tags were rebuilt)");
    ++*tags;
  }
  return xb::Status::Ok();
}

xb::Status IndexMaintenance::Rebuild(xb::Table& table, std::string* summary) {
  const std::string cdx_path = table.StructuralIndexPath();
  std::error_code ec;
  int recreated = -1;
  if (!table.index_problem().empty() && !table.indexes().HasStructural()) {
    if (!std::filesystem::exists(cdx_path, ec))
      return xb::Status::NotFound(table.index_problem() +
                                  "; its tags are unknown: build them again with 'xbtool index'");
    xb::Status s = Recreate(table, cdx_path, &recreated);
    if (!s.ok()) return s;
  }
  if (!HasIndex(table)) {
    *summary = "reindex: no index to rebuild";
    return xb::Status::Ok();
  }
  const int total = table.indexes().OrderCount();
  // Tags just recreated from their definitions are current; tags of other index files (and all
  // tags, when nothing was recreated) are built afresh here.
  if (recreated < total) {
    xb::Status s = table.RebuildIndexes(nullptr);
    if (!s.ok()) return s;
  }
  *summary = "reindex: " + Plural(static_cast<size_t>(total), "tag") + " rebuilt";
  if (recreated >= 0)
    *summary += " (the tags of the damaged " + cdx_path + " were read from what is left of it)";
  return xb::Status::Ok();
}
