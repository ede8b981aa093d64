// Whether the settings in force allow monitoring to start.
#pragma once

// Checks the settings in force in a fixed order, telling the user what is missing, turns
// a mail server name into its dotted address, and takes the Autostart and Minimize on
// start boxes into their flags. Returns 0 to go on, 1 to refuse.
int CheckEntries();
