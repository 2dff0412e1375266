// driver.h - the command line and the run sequence.
#pragma once

extern int OutRaw;  // the output is written as RAW (-o:RAW)

// Matches text against a pattern of literal characters and the conversions
// %d (int*), %lg (double*) and %c (char*) as sscanf does, and returns the
// number of conversions made (-1 when the text ends before the first one).
// Unlike sscanf, an integer outside the int range is a failed conversion.
int ScanSwitch(const char* text, const char* pattern, ...);

// One input switch (an argument that begins with "-i:"), applied to the image
// description as the command line applies it; a refusal ends the run.
void ApplyInputSwitch(const char* arg);
// One transform switch (an argument that begins with "-t:"), validated against
// the image in the store and run; a refusal ends the run.
void ApplyTransformSwitch(const char* arg);

// Runs grayfix on the argument list; returns the exit status of a
// successful run (every failure ends the process where it is found).
int GrayfixMain(int argc, char** argv);
