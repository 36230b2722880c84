#pragma once

#include <string>
#include <vector>

#include "CdxTypes.h"
#include "Status.h"
#include "Table.h"

// The index work the xb_ calls do not offer, done through the engine's own classes: checking
// every tag of a table against its records, and rebuilding the indexes, including a structural
// index so damaged that the engine could not open it.
class IndexMaintenance {
 public:
  struct CheckReport {
    std::vector<std::string> problems;  // one line each
    std::string summary;                // one line, "check: ..."
    bool ok = false;
  };
  // Checks every open index of `table`, and its memo file against its records. `table_arg` is
  // the table as the user named it, for the advice in the summary.
  static CheckReport Check(xb::Table& table, const std::string& table_arg);

  // Checks the tree of order `order` and that each record number it holds is a record of the
  // table, so that following the order can only lead to records that exist.
  static xb::Status VerifyOrder(xb::Table& table, int order);

  // Rebuilds every tag of the open indexes from the table; the table must be open exclusively.
  // A structural index the engine could not open is written afresh from the tag definitions
  // that can still be read from it. `*summary` says what was done.
  static xb::Status Rebuild(xb::Table& table, std::string* summary);

  // The tag definitions of an index file, read even when the file is cut short or its trees
  // are damaged, as long as the tag list and the tag headers themselves can be read.
  static xb::Status ReadTagDefinitions(const std::string& path, std::vector<xb::CdxTagInfo>* tags);

 private:
  static CheckReport CheckIndexes(xb::Table& table, const std::string& table_arg);
  static xb::Status Recreate(xb::Table& table, const std::string& cdx_path, int* tags);
};
