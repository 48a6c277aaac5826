// The faces of the substitute devices. Each takes the arguments after its mode word.
#pragma once

int RunSerial(int argc, char** argv);   // board on a pseudo-terminal
int RunTelnet(int argc, char** argv);   // board over telnet
int RunReader(int argc, char** argv);   // reader frames over TCP
int RunPrinter(int argc, char** argv);  // ZPL label printer over TCP
