// Scaffolding: these handlers are filled in by their own concern.
#include "app/form1.h"

namespace qav::app {

void Form1::HScroll1_Change() {}
void Form1::HScroll2_Change() {}
void Form1::HScroll3_Change() {}
void Form1::Combo4_Click() {}
void Form1::Command18_Click() {}
void Form1::Command19_Click() {}
void Form1::Command21_Click() {}
void Form1::Command34_Click() {}
void Form1::Command29_Click() {}
void Form1::Command30_Click() {}
void Form1::Command1_Click() {}
void Form1::SendFrameData(const QList<int>&) {}
void Form1::Command17_Click() {}
void Form1::Command31_Click() {}
void Form1::Command32_Click() {}
void Form1::Command10_Click() {}
void Form1::Command13_Click() {}

} // namespace qav::app
