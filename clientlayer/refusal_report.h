// Tells the program that serves a port that an open of it was refused as busy, so that its
// log names who holds the port: the kernel gives the program no event for a refused open.
#pragma once

// Sends "refused NAME" (NAME: the last part of path) to the program's socket Velk_VCP.control
// in the folder above the port's folder (the working folder, where the port folder is its
// "ports"), and returns at once; nothing when path is relative to another folder than the
// current one, or nothing answers there. Keeps errno.
void ReportRefusedOpen(int dirfd, const char* path);
