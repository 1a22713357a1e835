// Placeholder source for a layer folder that has no sources yet.
