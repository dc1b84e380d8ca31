// Scaffolding: these handlers are filled in by their own concern.
#include "app/form1.h"

namespace qav::app {

void Form1::Option4_Click() {}
bool Form1::FindTheHid() { return false; }
void Form1::PollBridgeReply() {}
void Form1::Timer2_Timer() {}

} // namespace qav::app
