#include "connect/freetds/FreeTdsLink.h"

#include "connect/access/DatabaseError.h"
#include "connect/freetds/FreeTdsResultSet.h"

#include <cstddef>
#include <utility>

namespace veltrane::tds {

void FreeTdsLink::ThrowStatementError() {
    const bool lost =
        Dead() || (messages.clientError && LosesConnection(messages.clientError->first));
    std::pair<int, std::string> error{0, "The statement failed."};
    if (messages.serverError)
        error = *messages.serverError;
    else if (messages.clientError)
        error = *messages.clientError;
    const FailureReason reason = lost                   ? FailureReason::ConnectionLost
                                 : messages.serverError ? ReasonOf(error.first)
                                                        : FailureReason::Refused;
    if (lost)
        error.second = "The connection to the Sybase ASE server has been lost: " + error.second;
    throw DatabaseError(error.second, error.first, statement, reason);
}

void FreeTdsLink::CheckConversion() {
    if (!messages.conversionError)
        return;
    if (!Dead())
        dbcancel(proc);
    const char* charset = proc != nullptr ? dbservcharset(proc) : nullptr;
    throw DatabaseError("A character cannot be converted between UTF-8 and the character "
                        "set of the Sybase ASE server" +
                            (charset && *charset ? " (" + std::string(charset) + ")" : "") + ": " +
                            messages.conversionError->second,
                        messages.conversionError->first, statement);
}

void FreeTdsLink::FinishBatch() {
    RETCODE rc;
    bool failed = false;
    while ((rc = dbresults(proc)) != NO_MORE_RESULTS) {
        if (rc == FAIL) {
            failed = true;
            if (DBDEAD(proc))
                break;
            continue;
        }
        failed = !DiscardRows() || failed;
        if (DBDEAD(proc))
            break;
    }
    CheckConversion();
    if (failed || messages.serverError || DBDEAD(proc))
        ThrowStatementError();
}

bool FreeTdsLink::DiscardRows() {
    STATUS row;
    while ((row = dbnextrow(proc)) != NO_MORE_ROWS) {
        if (row == FAIL)
            return false;
    }
    return true;
}

bool FreeTdsLink::NextRow() {
    for (;;) {
        const STATUS status = dbnextrow(proc);
        CheckConversion();
        if (status == REG_ROW)
            return true;
        if (status == NO_MORE_ROWS) {
            FinishBatch();
            return false;
        }
        if (status == FAIL) {
            if (!DBDEAD(proc))
                dbcancel(proc);
            ThrowStatementError();
        }
        // Compute rows are not produced by the statements this program runs; skip them.
    }
}

void FreeTdsLink::CurrentRow(std::vector<RawField>& row) {
    for (std::size_t i = 0; i < row.size(); ++i) {
        const int col = static_cast<int>(i) + 1;
        row[i] = {dbdata(proc, col), static_cast<std::size_t>(dbdatlen(proc, col))};
    }
}

void FreeTdsLink::ReleaseStream(bool keepRows) {
    if (stream == nullptr)
        return;
    if (keepRows)
        stream->Drain(); // reads to the end of the batch, which ends the stream
    else
        stream->Close(); // cancels the rest
}

} // namespace veltrane::tds
