// Scaffolding: these handlers are filled in by their own concern.
#include "app/form1.h"

namespace qav::app {

void Form1::Command6_Click() {}
void Form1::Combo5_Click() {}
void Form1::MSComm1_OnComm() {}
void Form1::OnSerialIdleReply() {}

} // namespace qav::app
