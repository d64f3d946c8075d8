// A header of the tool's own.
