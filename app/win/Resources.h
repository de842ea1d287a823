#pragma once

// Resource numbers of the program's pictures, shared by the resource script and the code.
#define IDI_PROGRAM 1
#define IDI_PICTURE 2
#define IDI_INFO 3
