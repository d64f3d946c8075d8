// A public header placed in no layer.
