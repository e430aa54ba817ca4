#import "Shell/mac/TarvelApp.h"

int main() { return tarvel::TarvelApp::run(); }
