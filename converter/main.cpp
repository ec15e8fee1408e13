#include "dprintf.h"
#include "log.h"
#include "mipforge.h"

int main(int argc, char** argv)
{
    pDPrintOutputProc = LogOutputProc;
    return MipforgeMain(argc, argv);
}
