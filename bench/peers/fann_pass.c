/* One full gradient pass of the C multi-layer perceptron peer, for
 * bench/compare_pass.sh: a batch training epoch (forward pass,
 * back-propagation and gradient accumulation over every record, then one
 * weight update) on synthetic records, in double precision (doublefann).
 *
 *   fann_pass INPUTS HIDDEN OUTPUTS RECORDS EPOCHS REPEATS
 *
 * Hidden units are symmetric sigmoids (tanh); outputs are logistic for a
 * class target (OUTPUTS > 1, one-of-n) and linear for a continuous one.
 * Prints "seconds_per_pass=S", the best over REPEATS of the processor time
 * of EPOCHS epochs divided by EPOCHS. */
#define _POSIX_C_SOURCE 200809L
#include <doublefann.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double cpu_seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

int main(int argc, char** argv) {
  if (argc != 7) {
    fprintf(stderr, "usage: fann_pass INPUTS HIDDEN OUTPUTS RECORDS EPOCHS REPEATS\n");
    return 2;
  }
  const int inputs = atoi(argv[1]), hidden = atoi(argv[2]), outputs = atoi(argv[3]);
  const int records = atoi(argv[4]), epochs = atoi(argv[5]), repeats = atoi(argv[6]);
  if (inputs < 1 || hidden < 1 || outputs < 1 || records < 1 || epochs < 1 || repeats < 1) {
    fprintf(stderr, "fann_pass: error: every argument must be positive\n");
    return 2;
  }
  srand(1);
  struct fann_train_data* data = fann_create_train(records, inputs, outputs);
  for (int r = 0; r < records; ++r) {
    for (int i = 0; i < inputs; ++i) data->input[r][i] = 2.0 * rand() / RAND_MAX - 1.0;
    const int hot = rand() % outputs;
    for (int k = 0; k < outputs; ++k)
      data->output[r][k] = outputs == 1 ? 2.0 * rand() / RAND_MAX - 1.0 : (k == hot);
  }
  struct fann* ann = fann_create_standard(3, inputs, hidden, outputs);
  fann_set_activation_function_hidden(ann, FANN_SIGMOID_SYMMETRIC);
  fann_set_activation_steepness_hidden(ann, 1.0);
  fann_set_activation_function_output(ann, outputs == 1 ? FANN_LINEAR : FANN_SIGMOID);
  fann_set_training_algorithm(ann, FANN_TRAIN_BATCH);
  fann_set_learning_rate(ann, 0.001f);
  fann_randomize_weights(ann, -0.5, 0.5);
  double best = 1e300, sink = 0.0;
  for (int rep = 0; rep < repeats; ++rep) {
    const double t0 = cpu_seconds();
    for (int e = 0; e < epochs; ++e) sink += fann_train_epoch(ann, data);
    const double t = (cpu_seconds() - t0) / epochs;
    if (t < best) best = t;
  }
  printf("seconds_per_pass=%.9g mse=%.6g\n", best, sink / (repeats * epochs));
  fann_destroy(ann);
  fann_destroy_train(data);
  return 0;
}
