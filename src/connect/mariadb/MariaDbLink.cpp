#include "connect/mariadb/MariaDbLink.h"

#include "connect/mariadb/MariaDbErrors.h"
#include "connect/mariadb/MariaDbResultSet.h"

namespace veltrane::mariadb {

short PollEvents(int status) {
    short events = 0;
    if (status & MYSQL_WAIT_READ) {
        events |= POLLIN;
    }
    if (status & MYSQL_WAIT_WRITE) {
        events |= POLLOUT;
    }
    if (status & MYSQL_WAIT_EXCEPT) {
        events |= POLLPRI;
    }
    return events;
}

int Readiness(MYSQL* mysql, const pollfd& wait, int status, int libraryErrno) {
    errno = libraryErrno;
    // A connect that failed (the handle has no connection yet): the blocking connect gives up
    // on the address leaving errno as connect() left it (EINPROGRESS, which its message then
    // shows), where the non-blocking one would set the socket's error. Resumed as timed out,
    // it gives up the same way.
    if (mysql->net.pvio == nullptr && (wait.revents & POLLERR)) {
        return MYSQL_WAIT_TIMEOUT;
    }
    int ready = 0;
    if (wait.revents & POLLIN) {
        ready |= MYSQL_WAIT_READ;
    }
    if (wait.revents & POLLOUT) {
        ready |= MYSQL_WAIT_WRITE;
    }
    if (wait.revents & POLLPRI) {
        ready |= MYSQL_WAIT_EXCEPT;
    }
    // An error or hang-up answers whatever the call waits for: its next read or write fails
    // and tells why.
    if (wait.revents & (POLLERR | POLLHUP | POLLNVAL)) {
        ready |= status & (MYSQL_WAIT_READ | MYSQL_WAIT_WRITE | MYSQL_WAIT_EXCEPT);
    }
    return ready;
}

void FreeResult(MYSQL_RES* result) {
    Await(
        result->handle, [&] { return mysql_free_result_start(result); },
        [&](int ready) { return mysql_free_result_cont(result, ready); });
}

void CloseStatement(MYSQL_STMT* stmt) {
    my_bool failed = 0;
    Await(
        stmt->mysql, [&] { return mysql_stmt_close_start(&failed, stmt); },
        [&](int ready) { return mysql_stmt_close_cont(&failed, stmt, ready); });
}

int NextResult(MYSQL* mysql) {
    // Without a further result the call reads nothing, so it need not run on the call stack.
    if (!mysql_more_results(mysql)) {
        return mysql_next_result(mysql);
    }
    int status = 0;
    Await(
        mysql, [&] { return mysql_next_result_start(&status, mysql); },
        [&](int ready) { return mysql_next_result_cont(&status, mysql, ready); });
    return status;
}

int RealQuery(MYSQL* mysql, const char* statement, unsigned long length) {
    int failed = 0;
    Await(
        mysql, [&] { return mysql_real_query_start(&failed, mysql, statement, length); },
        [&](int ready) { return mysql_real_query_cont(&failed, mysql, ready); });
    return failed;
}

MYSQL_RES* StoreResult(MYSQL* mysql) {
    MYSQL_RES* result = nullptr;
    Await(
        mysql, [&] { return mysql_store_result_start(&result, mysql); },
        [&](int ready) { return mysql_store_result_cont(&result, mysql, ready); });
    return result;
}

void MariaDbLink::FinishBatch(const std::string& statement) {
    while (mysql_more_results(mysql)) {
        const int status = NextResult(mysql);
        if (status > 0) {
            throw Note(ClientError(mysql, statement));
        }
        if (status < 0) {
            break;
        }
        if (MYSQL_RES* extra = mysql_use_result(mysql)) {
            FreeResult(extra);
        } else if (mysql_field_count(mysql) != 0) {
            throw Note(ClientError(mysql, statement));
        }
    }
}

void MariaDbLink::ReleaseStream(bool keepRows) {
    if (!stream) {
        return;
    }
    if (keepRows) {
        stream->Drain();
    } else {
        stream->Close();
    }
}

void MariaDbLink::ReleaseAll() {
    ReleaseStream(false);
    // A stored result of a prepared statement keeps its rows inside the statement handle,
    // which the library invalidates with the connection: read them out first.
    const std::vector<MariaDbResultSet*> holders = prepared;
    for (MariaDbResultSet* holder : holders) {
        try {
            holder->Drain();
        } catch (const DatabaseError&) {
            // That result set is closed; closing the connection goes on.
        }
    }
}

} // namespace veltrane::mariadb
