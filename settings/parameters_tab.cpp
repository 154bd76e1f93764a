#include "shell/kvelp.h"

namespace veresk {

void TForm1::ConnectParameterButtons() {}
void TForm1::Button6Click() {}
void TForm1::Button3Click() {}
void TForm1::Button4Click() {}

}  // namespace veresk
