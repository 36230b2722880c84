#pragma once

// The storage engine's C-style interface. Calls act on the current work area; callers select
// theirs first and restore the previous one after. Every call is safe to make with no table
// open: it fails (0, an empty text, a blank value) and records a message for xb_ErrorText().

#include <cstddef>
#include <cstdint>

extern "C" {

// Driver codes accepted by xb_CreateNew and xb_Use.
enum {
  XB_DRIVER_NTX = 1,
  XB_DRIVER_FOX = 2,
  XB_DRIVER_XSX = 3,
};

// Open modes of xb_Use.
enum {
  XB_SHARED = 0,
  XB_READONLY = 1,
  XB_EXCLUSIVE = 2,
};

// Value kinds of xb_Replace.
enum {
  XB_VAL_STRING = 0,   // const char*, NUL-terminated; character, date ("yyyymmdd"), memo fields
  XB_VAL_DOUBLE = 1,   // const double*; numeric fields
  XB_VAL_LOGICAL = 2,  // const int*; logical fields (non-zero = true)
};

enum { XB_MAX_AREAS = 256 };

// ---- Engine-wide -------------------------------------------------------------------------
int xb_Version(char* buffer);  // fills at most 255 bytes + NUL; returns the text's length
int xb_SetStringType(int type);
int xb_ErrorLevel(int level);
long xb_SysProp(int property, long value);
int xb_Error(void);                // status code of the last failed call, 0 after a success
const char* xb_ErrorText(void);    // message of the last failed call ("" after a success)

int xb_SetCentury(int flag);        // every setter returns the previous value
int xb_SetDateFormat(int format);
int xb_SetDeleted(int flag);
int xb_SetExact(int flag);
int xb_SetSoftSeek(int flag);
int xb_SetLockTimeout(int seconds);
int xb_SetMemoBlockSize(int size);  // block size for FPT files created from now on
int xb_SetTurboRead(int flag);

// ---- Work areas --------------------------------------------------------------------------
int xb_CreateNew(const char* path, const char* alias, int driver, int field_count);
int xb_CreateField(const char* name, const char* type, int width, int decimals);
int xb_CreateExec(void);
int xb_Use(const char* path, const char* alias, int mode, int driver);
int xb_Select(int area);             // returns the previous area
int xb_WorkArea(const char* alias);  // area of the alias (0 = none); null gives the current area
const char* xb_Alias(void);
int xb_Close(int area);              // 0 closes the current area
int xb_CloseAll(void);

// ---- Structure ---------------------------------------------------------------------------
int xb_FieldCount(void);
const char* xb_FieldName(int position);  // positions count from 1; "" when out of range
char xb_FieldType(int position);
int xb_FieldWidth(int position);
int xb_FieldDecimals(int position);
int xb_FieldOffset(int position);        // position in the record image counted from 1 at the
                                         // deletion mark: the first field is at 2
int xb_FieldNum(const char* name);       // 0 when there is no such field
int xb_RecSize(void);

// ---- Records -----------------------------------------------------------------------------
int xb_GetRecord(char* buffer);        // copies the raw image (record size bytes)
int xb_PutRecord(const char* buffer);  // stores a raw image into the current record
int xb_AppendBlank(void);
int xb_Delete(void);
int xb_Recall(void);
int xb_Deleted(void);
int xb_Replace(const char* field, int kind, const void* value);
int xb_ReplaceMemo(const char* field, const char* data, long length);
char* xb_GetMemo(const char* field, long* length);  // engine-allocated, never null
int xb_MemDealloc(char* memo);
long xb_MemoLen(const char* field);
int xb_GetField(const char* field, char* buffer, int size);  // raw field bytes + NUL

// ---- Navigation (natural order) ----------------------------------------------------------
int xb_GoTop(void);
int xb_GoBottom(void);
int xb_Skip(long count);
int xb_Go(long recno);
long xb_RecNo(void);
long xb_RecCount(void);
// Holds the current area's table still for a run of reads (a walk over every record): other
// programs' changes wait until xb_EndRead, and the steps between take no lock of their own, so
// the run sees the table at one moment and costs no system call a record. 1 on success; each
// success needs its xb_EndRead, in the same area.
int xb_BeginRead(void);
void xb_EndRead(void);
// Read leases for the current area's table (see xb::Table::SetReadLease): the lock a read took
// is kept a little after it, so a run of single steps costs no system call each. A program
// that turns them on must call xb_ReleaseLeases as soon as it is done with what it is busy
// with, and before it waits for anything (another program above all), or that program's
// changes wait for it. `notice` (may be null) is called when the first lease since the last
// xb_ReleaseLeases starts, for an event loop to post the release.
void xb_SetReadLease(int on);
void xb_ReleaseLeases(void);
void xb_SetLeaseNotice(void (*notice)(void));
int xb_Bof(void);
int xb_Eof(void);

// ---- Locking and durability --------------------------------------------------------------
int xb_Rlock(long recno);
int xb_Unlock(long recno);  // 0 releases every lock of the area
int xb_Commit(void);

// ---- Indexes and orders ------------------------------------------------------------------
// Index files are compound (.CDX); "" names the structural index, which opens with the table.
int xb_IndexTag(const char* file, const char* tag, const char* key, int option, int descending,
                const char* condition);  // builds a tag; its order number, 0 = failure
int xb_IndexOpen(const char* file);      // order number of the file's first tag, 0 = failure
int xb_CloseIndexes(void);
int xb_SetOrder(int order);              // previous order number; -1 when `order` has no tag
int xb_IndexOrd(void);                   // order in force, 0 = record-number order
int xb_TagArea(const char* tag);         // order number of a tag, 0 = none
const char* xb_TagName(int order);       // "" past the last order
const char* xb_IndexName(int order);     // the index file holding the order
const char* xb_IndexKey(int order);      // key expression
const char* xb_IndexFor(int order);      // condition ("" = none)
const char* xb_IndexKeyField(int order); // the field when the key is one field alone, else ""
int xb_KeyData(char* buffer, int size);  // key of the current record in the order in force
int xb_SetScope(const char* low, const char* high);  // null or "" leaves that end open
int xb_Seek(const char* key);            // nonzero = found (see the soft-seek rule)

// ---- Queries and evaluation -------------------------------------------------------------
int xb_Query(const char* expression);    // "" removes the query; failure keeps the old one
const char* xb_DBFilter(void);
long xb_QueryRecCount(void);
// Where a record comes among the records navigation visits in the order in force (0 = first),
// without moving; -1 when navigation does not reach it, or on failure (xb_Error tells).
long xb_QueryPosition(long recno);
int xb_QueryTest(const char* expression);  // the current record against it ("" = the query)
int xb_EvalLogical(const char* expression);
int xb_EvalString(const char* expression, char* buffer, int size);
int xb_EvalTest(const char* expression);   // result type letter C, N, D or L; 0 = invalid

// ---- Pack, zap and progress -------------------------------------------------------------
int xb_Pack(void);  // removes marked records; needs an exclusive open
int xb_Zap(void);   // removes every record; needs an exclusive open
// While a window is registered, index building and packing report progress to the sink as a
// key code: the negated percentage as a 16-bit two's-complement number.
typedef void (*xb_ProgressSink)(long window, int key_code);
xb_ProgressSink xb_SetProgressSink(xb_ProgressSink sink);
long xb_SetGaugeHook(long window);  // 0 stops the reports; returns the previous window

}  // extern "C"
