// terminal_guard.h - the terminal is given back as the program found it: the
// colours of the terminal the console writer writes to (standard output, or
// standard error) and the input mode of the one on standard input, at exit
// and whenever a signal ends or stops the program.
#pragma once

// Installs the guard; later calls do nothing. From then on the terminal is
// given back when the program ends through exit or main's return, and before
// an interrupt, termination, hang-up or quit signal ends the program, which
// then ends by that signal as it would have without the guard. Before a stop
// signal (Ctrl+Z, or a background job touching the terminal) stops the
// program, likewise; when it continues, key mode is taken again if it was in
// force. A signal that was ignored when the program started stays ignored
// (nohup's hang-up, for instance).
void GuardTerminal();

// Tells the guard which descriptor the console writer's terminal is (1 until
// told otherwise): where the colour reset and the line end go.
void NoteTerminalDescriptor(int descriptor);

// Tells the guard whether the console writer's last text on the terminal
// left its line open (true, before text is written) or ended it with a line
// end (false, after it has been written). A signal that ends the program
// while a line is open (a prompt or the progress line, which end in a lone
// CR) ends that line first, so that the shell's prompt does not land on it.
void NoteTerminalLineOpen(bool open);

// Tells the guard whether the console writer's terminal now shows colours
// of the program's choosing (true, before such a colour is written) or its
// own colours again (false, after the reset has been written). Only a guard
// told true writes a reset when the program ends or stops.
void NoteTerminalColours(bool changed);

// Saves the mode of the terminal on standard input and puts it into key mode:
// no line editing and no echo, a single byte completes a read, and the signal
// keys (Ctrl+C, Ctrl+\, Ctrl+Z) keep their meaning. Installs the guard first.
// Does nothing when standard input is no terminal or key mode was taken
// before.
void EnterTerminalKeyMode();
