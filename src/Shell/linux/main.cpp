#include "Shell/linux/TarvelApp.h"

int main(int argc, char** argv) { return tarvel::TarvelApp::run(argc, argv); }
