// A stand-in for a program judged by its name and command line: does nothing
// until killed, whatever its arguments say.
#include <windows.h>

int main() {
  for (;;) Sleep(1000);
}
