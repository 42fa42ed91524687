// The shell's sources go here.
