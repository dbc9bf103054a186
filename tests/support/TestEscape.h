#pragma once

// An exception that escapes a test function ends QtTest's whole run: this Qt rethrows it out of
// QTest::qExec, and the process would abort with the rows after it never run (and, before
// ChildProcess, with its servers left running). The test programs' entry point runs each test
// through TestEscape::run, which catches such an exception, reports it, and runs the rows after
// the one it escaped from again, in a fresh instance of the test class (a fresh initTestCase):
// a failing row does not take the rows after it along.

#include <exception>

namespace TestEscape {

// Notes the test function and data row that the exception being handled escapes from. Call it
// in a catch block that rethrows (TaskRunner does); the entry point resumes only after rows it
// knows.
void note();

// Runs the test `entry` (a renamed QtTest main) with its arguments, resuming after escaped
// exceptions when it was started without arguments (as CTest starts it). Its exit code, non-zero
// when anything failed or escaped.
int run(int (*entry)(int argc, char *argv[]), int argc, char *argv[]);

} // namespace TestEscape
