// A folder the layers do not name.
