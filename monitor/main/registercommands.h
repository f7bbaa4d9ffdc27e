// The main window's File menu commands on register text files.
#pragma once

// "&Upload Register File": reads the controller's registers into a file the
// user names.
void ReadRegistersToFile();
// "&Download Register File": writes the registers of a file the user picks
// into the controller.
void WriteRegistersFromFile();
