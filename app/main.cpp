#include "platform/AppInfo.h"
#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "platform/Application.h"

int main(int argc, char *argv[])
{
    lianbu::Application app(argc, argv);
    return lianbu::runProgram(app);
}
