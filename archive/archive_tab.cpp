#include "shell/kvelp.h"

namespace veresk {

void TForm1::ConnectArchiveTab() {}
void TForm1::Button1Click() {}
void TForm1::Button7Click() {}
void TForm1::BitBtn5Click() {}
void TForm1::BitBtn11Click() {}
void TForm1::BitBtn1Click() {}
void TForm1::BitBtn2Click() {}
void TForm1::BitBtn3Click() {}
void TForm1::BitBtn4Click() {}
void TForm1::BitBtn6Click() {}
void TForm1::BitBtn7Click() {}
void TForm1::BitBtn8Click() {}
void TForm1::BitBtn9Click() {}
void TForm1::BitBtn10Click() {}

}  // namespace veresk
