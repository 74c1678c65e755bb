#pragma once

// The DB-Library connection that a backend shares with its result sets, and the reading of a
// batch's results on it.

#include "connect/freetds/FreeTdsErrors.h"
#include "connect/freetds/PackedRows.h"

#include <string>
#include <sybdb.h>
#include <vector>

namespace veltrane::tds {

class FreeTdsResultSet;

// The DB-Library connection and what belongs to it, shared by the backend and the result sets
// it hands out: a result set that outlives its backend, or whose read failed, finds the
// connection closed or itself no longer the one being read, never a dangling backend.
struct FreeTdsLink {
    DBPROCESS* proc = nullptr;
    Messages messages;
    std::string statement;
    // The result set whose rows are being read from the server (server cursor); it clears
    // this when it goes away.
    FreeTdsResultSet* stream = nullptr;

    bool Dead() const { return proc == nullptr || DBDEAD(proc); }

    // Throws the statement's error (the server's first one, else the library's), as a lost
    // connection when the connection is gone.
    [[noreturn]] void ThrowStatementError();

    // A character that FreeTDS could not convert fails the statement or the read, rather
    // than arriving as the '?' that FreeTDS put in its place; the rest of the batch is dropped.
    void CheckConversion();

    // Consumes all remaining results of the batch; throws the first error any of them had.
    void FinishBatch();

    // Reads and drops the rows of the current results; false when reading them failed.
    bool DiscardRows();

    // Moves to the next row of the current results: true on a row, false at their end, after
    // which the rest of the batch has been processed (and its errors thrown).
    bool NextRow();

    // The current row's raw values; dbdata gives a null pointer exactly for NULL.
    void CurrentRow(std::vector<RawField>& row);

    // Frees the connection from the stream, if there is one, so that it can do something else:
    // with keepRows the stream's remaining rows are read into memory first (its result set
    // stays whole), otherwise its result set is closed.
    void ReleaseStream(bool keepRows);
    // Frees every result set from the connection before it closes. Only the stream reads from
    // it; the others hold their rows.
    void ReleaseAll() { ReleaseStream(false); }
};

} // namespace veltrane::tds
