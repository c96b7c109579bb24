// A decoder library that lacks most entries, to show what a version mismatch does.
extern "C" __attribute__((visibility("default"))) int errortext(unsigned short, char* buffer,
                                                                  int size) {
  if (size > 0) buffer[0] = 0;
  return 0;
}
