// Scaffolding: these handlers are filled in by their own concern.
#include "app/form1.h"

namespace qav::app {

void Form1::Command3_Click() {}
void Form1::Timer1_Timer() {}
void Form1::Command23_Click() {}
void Form1::Command16_Click() {}
void Form1::Command25_Click() {}
void Form1::Command14_Click() {}
void Form1::Command22_Click() {}

} // namespace qav::app
