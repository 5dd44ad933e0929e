/* A host program that uses the installed brevlo library: prints the library's
 * information text, then converts IN.gif into OUT.bmp. */
#include <brevlo.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s IN.gif OUT.bmp\n", argv[0]);
    return 2;
  }

  /* The information text: ask for its length, then have it copied. */
  int32_t length = BREVLOInfo(NULL, 0);
  char* text = malloc((size_t)length + 1);
  if (text == NULL || BREVLOInfo(text, length) != 0) {
    free(text);
    return 1;
  }
  text[length] = '\0';
  printf("%s\n", text);
  free(text);

  int32_t result = BREVLO32(argv[1], argv[2]);
  if (result != BREVLO_SUCCESS) {
    fprintf(stderr, "%s: conversion failed with code %d\n", argv[1], (int)result);
    return 1;
  }
  printf("converted %s to %s\n", argv[1], argv[2]);
  return 0;
}
