#include "Form1.h"
#include "link/Wait.h"

void Form1::Bekle(double nekadar)
{
    waitOn(*seams_.clock, nekadar);
}
