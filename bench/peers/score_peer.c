/* The C multi-layer perceptron library's scoring call, the peer of
 * bench_score's raw-record case (score_peers.sh runs both):
 *
 *   score_peer --inputs I --hidden H --outputs O [--records N] [--seconds S]
 *
 * Builds an I-H-O network in double precision with symmetric sigmoid
 * hidden units (tanh) and logistic outputs (the library has no SoftMax),
 * weights uniform in [-0.5, 0.5], and N records of inputs uniform in
 * [-1, 1]; then runs the scoring call over the records, pass after pass,
 * for at least S seconds of processor time, and prints
 *
 *   records_per_second R checksum C
 *
 * C (the sum of the first output over one pass) keeps the work alive. */
#define _POSIX_C_SOURCE 200809L
#include <doublefann.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double cpu_seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

int main(int argc, char** argv) {
  int inputs = 64, hidden = 32, outputs = 10, records = 2000;
  double seconds = 2.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--inputs"))
      inputs = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--hidden"))
      hidden = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--outputs"))
      outputs = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--records"))
      records = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--seconds"))
      seconds = atof(argv[i + 1]);
    else {
      fprintf(stderr, "score_peer: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (inputs < 1 || hidden < 1 || outputs < 1 || records < 1) {
    fprintf(stderr, "score_peer: sizes must be positive\n");
    return 2;
  }
  srand(7);
  struct fann* ann = fann_create_standard(3, inputs, hidden, outputs);
  if (!ann) return 1;
  fann_set_activation_function_hidden(ann, FANN_SIGMOID_SYMMETRIC);
  fann_set_activation_function_output(ann, FANN_SIGMOID);
  fann_randomize_weights(ann, -0.5, 0.5);
  double* x = malloc(sizeof(double) * (size_t)records * (size_t)inputs);
  if (!x) return 1;
  for (size_t k = 0; k < (size_t)records * (size_t)inputs; ++k)
    x[k] = 2.0 * rand() / (double)RAND_MAX - 1.0;

  double checksum = 0.0;
  long scored = 0;
  const double start = cpu_seconds();
  double elapsed = 0.0;
  do {
    checksum = 0.0;
    for (int r = 0; r < records; ++r) checksum += fann_run(ann, x + (size_t)r * (size_t)inputs)[0];
    scored += records;
    elapsed = cpu_seconds() - start;
  } while (elapsed < seconds);
  printf("records_per_second %.6g checksum %.17g\n", (double)scored / elapsed, checksum);
  free(x);
  fann_destroy(ann);
  return 0;
}
