// What only the tests call of link.cpp: a descriptor of their own as the
// scanner's line, so that a test plays the scanner on its other end.
#pragma once

// Takes an already open descriptor as the link (closeline gives it up).
void attachline(int fd);
