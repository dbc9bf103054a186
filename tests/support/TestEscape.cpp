#include "TestEscape.h"

#include "TaskRunner.h"

#include <QTest>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Escape
{
    std::exception_ptr exception;
    std::string function;
    std::string tag;
};
Escape lastNoted;
// Exceptions that leave TaskRunner::run, where most of the tests' exceptions come from, are noted.
[[maybe_unused]] const bool notesTaskRunner = (TaskRunner::noteException = &TestEscape::note, true);

std::string describe(const std::exception_ptr &exception)
{
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception &error) {
        return error.what();
    } catch (...) {
        return "an exception of unknown type";
    }
}

// Every "function" or "function:tag" of the test in its order, from QtTest's -datatags listing
// ("Class function [tag]" per line); empty when the listing failed or has global data.
std::vector<std::string> allRows(const char *program)
{
    std::string command = "'";
    for (const char *c = program; *c; ++c)
        command += *c == '\'' ? std::string("'\\''") : std::string(1, *c);
    command += "' -datatags 2>/dev/null";
    FILE *listing = ::popen(command.c_str(), "r");
    if (!listing)
        return {};
    std::vector<std::string> rows;
    std::string line;
    bool usable = true;
    for (int c = std::fgetc(listing);; c = std::fgetc(listing)) {
        if (c != '\n' && c != EOF) {
            line += char(c);
            continue;
        }
        const std::size_t afterClass = line.find(' ');
        if (afterClass != std::string::npos) {
            const std::size_t afterFunction = line.find(' ', afterClass + 1);
            const std::string function = line.substr(afterClass + 1, afterFunction - afterClass - 1);
            const std::string tag = afterFunction == std::string::npos ? std::string() : line.substr(afterFunction + 1);
            if (tag.rfind("__global__", 0) == 0)
                usable = false;
            rows.push_back(tag.empty() ? function : function + ":" + tag);
        }
        line.clear();
        if (c == EOF)
            break;
    }
    if (::pclose(listing) != 0 || !usable)
        return {};
    return rows;
}

} // namespace

void TestEscape::note()
{
    lastNoted = {std::current_exception(), QTest::currentTestFunction() ? QTest::currentTestFunction() : "",
                 QTest::currentDataTag() ? QTest::currentDataTag() : ""};
}

namespace {

// Reports the exception being handled; the "function:tag" it escaped from, empty when unknown.
std::string reportEscape()
{
    const bool known = std::current_exception() == lastNoted.exception && !lastNoted.function.empty();
    const std::string where = known ? lastNoted.function + (lastNoted.tag.empty() ? "" : ":" + lastNoted.tag) : "";
    std::fprintf(stderr, "FAIL!  : an exception escaped %s: %s\n", known ? where.c_str() : "the test",
                 describe(std::current_exception()).c_str());
    return where;
}

} // namespace

int TestEscape::run(int (*entry)(int argc, char *argv[]), int argc, char *argv[])
{
    if (argc > 1) { // functions or options of the caller's: run them as asked
        try {
            return entry(argc, argv);
        } catch (...) {
            reportEscape();
            return 1;
        }
    }
    std::vector<std::string> rows;
    std::vector<std::string> arguments{argv[0]};
    for (bool escaped = false;;) {
        std::vector<char *> pointers;
        for (std::string &argument : arguments)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        try {
            const int status = entry(int(arguments.size()), pointers.data());
            return escaped ? 1 : status;
        } catch (...) {
            escaped = true;
            const std::string where = reportEscape();
            const std::string function = lastNoted.function;
            lastNoted = {};
            if (where.empty() || function == "initTestCase" || function == "cleanupTestCase")
                return 1;
            if (rows.empty())
                rows = allRows(argv[0]);
            std::size_t at = 0;
            while (at < rows.size() && rows[at] != where)
                ++at;
            // The rows after it: the rest of its function row by row, later functions whole.
            arguments.assign({argv[0]});
            for (std::size_t next = at + 1; next < rows.size(); ++next) {
                const std::string rowFunction = rows[next].substr(0, rows[next].find(':'));
                if (rowFunction == function)
                    arguments.push_back(rows[next]);
                else if (arguments.size() == 1 || arguments.back().substr(0, arguments.back().find(':')) != rowFunction)
                    arguments.push_back(rowFunction);
            }
            if (arguments.size() == 1) {
                if (at >= rows.size())
                    std::fprintf(stderr, "       the rows after it could not be listed and are not run\n");
                return 1;
            }
            std::fprintf(stderr, "       running the rows after it again, in a fresh instance of the test\n");
        }
    }
}
