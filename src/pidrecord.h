#ifndef PIDRECORD_H
#define PIDRECORD_H

// Runs one action for the command line and returns the exit status.
int run(int argc, char *argv[]);

#endif
