// Whether the entries in force allow monitoring to start, and what the user is told or
// asked on the way.
#pragma once

// The checks that refuse a start, in their order, each telling the user what is missing:
// no drive; then, unless the level is 0, no interval, or a recipient list without a mail
// server. True to go on. Asks nothing.
bool CheckRequiredEntries();

// What a start that goes on tells or asks, in order: a level of 0 means no warnings; with
// no recipient the alert shows on screen, which the user accepts with OK; a server name
// that does not resolve is told and kept, one that does is replaced by its address in
// force and in the server box, and kept as the entry the box stands for. False when the
// user did not accept.
bool ConfirmEntries();

// Takes the Autostart and Minimize on start boxes into their flags.
void TakeCheckBoxes();

// A person's Start: the checks in their order, each box where its check stands, and with
// a level the two flags taken at the end. True to go on.
bool CheckEntries();
