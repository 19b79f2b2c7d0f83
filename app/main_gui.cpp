// Entry point of the desktop program; everything happens in application.cpp.
#include "app/application.h"

int main(int argc, char** argv) { return RunApplication(argc, argv); }
