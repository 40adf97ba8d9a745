// A stop request for a running upload: the device picture's click, its key
// and Escape.

#include "Form1.h"

void Form1::requestStop()
{
}
