#include "VarnetVersion.h"

extern "C" const Kor::VarnetVersionInfo s_VarnetVersionInfo = { 3, 2, 14, 0, "Varnet" };
