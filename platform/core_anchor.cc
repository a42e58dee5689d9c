// Keeps optad_core a valid library while a directory has no sources yet.
