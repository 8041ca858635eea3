// Makes one chosen allocation through operator new fail, to walk every
// out-of-memory path of the code under test. Linked into one test program,
// it replaces the global operator new there.
#ifndef DRAVN_TESTS_ORIENTATION_FAILING_NEW_H
#define DRAVN_TESTS_ORIENTATION_FAILING_NEW_H

namespace failing_new {

// The n-th allocation from now (0 = the next) throws std::bad_alloc.
void FailAt(long n);
// Stops failing; true when the chosen allocation was reached.
bool Disarm();

}  // namespace failing_new

#endif
