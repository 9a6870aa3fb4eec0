/* The C multi-layer perceptron peer of bench/compare_peers.sh: the same
 * arguments, encoding and output line as vxnn_peer (see vxnn_peer.cpp),
 * in double precision (doublefann).
 *
 *   fann_peer --task class|regr --train FILE [--test FILE] --hidden H
 *             --passes P [--method batch|rprop] [--seed S]
 *
 * The library has no SoftMax output: a class is a one-of-n target learnt by
 * logistic output units under its mean squared error. Hidden units are
 * symmetric sigmoids of steepness 1, which is tanh; a regression output is
 * linear. Each training epoch is one data pass over the whole training file
 * with one weight update (batch back-propagation, or resilient propagation).
 * Initial weights are uniform in [-0.5, 0.5] from the C generator seeded
 * with S.
 *
 * train_error is the library's mean squared error per output, which is not
 * the error vxnn_peer prints. */
#define _POSIX_C_SOURCE 200809L
#include <doublefann.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define MAX_CLASSES 64

static void fail(const char* message, const char* detail) {
  fprintf(stderr, "fann_peer: error: %s%s\n", message, detail ? detail : "");
  exit(2);
}

typedef struct {
  int rows;
  int inputs;
  double* x;     /* rows * inputs */
  char** target; /* rows strings */
} table;

static void read_csv(const char* path, table* t) {
  FILE* f = fopen(path, "r");
  char* line = NULL;
  size_t cap = 0;
  int capacity = 0;
  if (!f) fail("cannot open ", path);
  memset(t, 0, sizeof *t);
  t->inputs = -1;
  if (getline(&line, &cap, f) < 0) fail("empty file ", path);
  while (getline(&line, &cap, f) >= 0) {
    char* fields[4096];
    int n = 0;
    char* save = NULL;
    size_t len = strlen(line);
    while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r' || line[len - 1] == ' '))
      line[--len] = '\0';
    if (len == 0) continue;
    for (char* p = strtok_r(line, ",", &save); p; p = strtok_r(NULL, ",", &save)) {
      if (n == 4096) fail("too many columns in ", path);
      fields[n++] = p;
    }
    if (n < 2) fail("a row needs an input and a target in ", path);
    if (t->inputs < 0) t->inputs = n - 1;
    if (n - 1 != t->inputs) fail("rows of different widths in ", path);
    if (t->rows == capacity) {
      capacity = capacity ? 2 * capacity : 256;
      t->x = realloc(t->x, sizeof(double) * (size_t)capacity * (size_t)t->inputs);
      t->target = realloc(t->target, sizeof(char*) * (size_t)capacity);
      if (!t->x || !t->target) fail("out of memory", NULL);
    }
    for (int i = 0; i < t->inputs; ++i) {
      char* end = NULL;
      t->x[(size_t)t->rows * (size_t)t->inputs + (size_t)i] = strtod(fields[i], &end);
      if (end == fields[i]) fail("not a number: ", fields[i]);
    }
    t->target[t->rows] = strdup(fields[n - 1]);
    ++t->rows;
  }
  free(line);
  fclose(f);
  if (t->rows == 0) fail("no records in ", path);
}

typedef struct {
  int inputs;
  double* mean;
  double* sd;
  int classify;
  int outputs;
  char* classes[MAX_CLASSES];
  double target_mean;
  double target_sd;
} encoding;

static void scaling_of(const double* v, int n, int stride, double* mean, double* sd) {
  double m = 0.0, ss = 0.0;
  for (int r = 0; r < n; ++r) m += v[(size_t)r * (size_t)stride] / n;
  for (int r = 0; r < n; ++r) {
    const double d = v[(size_t)r * (size_t)stride] - m;
    ss += d * d;
  }
  *mean = m;
  *sd = (n > 1 && ss > 0.0) ? sqrt(ss / (n - 1.0)) : 1.0;
}

static int class_of(const encoding* e, const char* label) {
  for (int k = 0; k < e->outputs; ++k)
    if (strcmp(e->classes[k], label) == 0) return k;
  return -1;
}

static void learn_encoding(const table* t, int classify, encoding* e) {
  memset(e, 0, sizeof *e);
  e->inputs = t->inputs;
  e->classify = classify;
  e->mean = malloc(sizeof(double) * (size_t)t->inputs);
  e->sd = malloc(sizeof(double) * (size_t)t->inputs);
  for (int i = 0; i < t->inputs; ++i)
    scaling_of(t->x + i, t->rows, t->inputs, &e->mean[i], &e->sd[i]);
  if (classify) {
    for (int r = 0; r < t->rows; ++r) {
      if (class_of(e, t->target[r]) >= 0) continue;
      if (e->outputs == MAX_CLASSES) fail("too many classes", NULL);
      e->classes[e->outputs++] = t->target[r];
    }
    if (e->outputs < 2) fail("the training file holds fewer than two classes", NULL);
  } else {
    double* y = malloc(sizeof(double) * (size_t)t->rows);
    for (int r = 0; r < t->rows; ++r) y[r] = strtod(t->target[r], NULL);
    scaling_of(y, t->rows, 1, &e->target_mean, &e->target_sd);
    e->outputs = 1;
    free(y);
  }
}

static void encode_inputs(const encoding* e, const table* t, int r, fann_type* out) {
  for (int i = 0; i < e->inputs; ++i)
    out[i] = (t->x[(size_t)r * (size_t)e->inputs + (size_t)i] - e->mean[i]) / e->sd[i];
}

static double seconds(struct timespec a, struct timespec b) {
  return (double)(b.tv_sec - a.tv_sec) + 1e-9 * (double)(b.tv_nsec - a.tv_nsec);
}

int main(int argc, char** argv) {
  int classify = 1, hidden = 0, passes = 0, rprop = 0;
  unsigned seed = 1;
  const char *train_path = NULL, *test_path = NULL;
  for (int i = 1; i < argc; i += 2) {
    const char* key = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : NULL;
    if (!value) fail("missing value after ", key);
    if (!strcmp(key, "--task")) {
      if (strcmp(value, "class") && strcmp(value, "regr")) fail("--task is class or regr", NULL);
      classify = !strcmp(value, "class");
    } else if (!strcmp(key, "--train")) {
      train_path = value;
    } else if (!strcmp(key, "--test")) {
      test_path = value;
    } else if (!strcmp(key, "--hidden")) {
      hidden = atoi(value);
    } else if (!strcmp(key, "--passes")) {
      passes = atoi(value);
    } else if (!strcmp(key, "--method")) {
      if (strcmp(value, "batch") && strcmp(value, "rprop"))
        fail("--method is batch or rprop", NULL);
      rprop = !strcmp(value, "rprop");
    } else if (!strcmp(key, "--seed")) {
      seed = (unsigned)strtoul(value, NULL, 10);
    } else {
      fail("unknown option ", key);
    }
  }
  if (!train_path || hidden < 1 || passes < 1)
    fail("--train, --hidden (>= 1) and --passes (>= 1) are required", NULL);

  table train;
  encoding e;
  read_csv(train_path, &train);
  learn_encoding(&train, classify, &e);

  struct fann_train_data* data =
      fann_create_train((unsigned)train.rows, (unsigned)e.inputs, (unsigned)e.outputs);
  for (int r = 0; r < train.rows; ++r) {
    encode_inputs(&e, &train, r, data->input[r]);
    if (classify) {
      const int k = class_of(&e, train.target[r]);
      for (int j = 0; j < e.outputs; ++j) data->output[r][j] = j == k ? 1.0 : 0.0;
    } else {
      data->output[r][0] = (strtod(train.target[r], NULL) - e.target_mean) / e.target_sd;
    }
  }

  struct fann* ann =
      fann_create_standard(3, (unsigned)e.inputs, (unsigned)hidden, (unsigned)e.outputs);
  fann_set_activation_function_hidden(ann, FANN_SIGMOID_SYMMETRIC);
  fann_set_activation_steepness_hidden(ann, 1.0);
  fann_set_activation_function_output(ann, classify ? FANN_SIGMOID : FANN_LINEAR);
  fann_set_activation_steepness_output(ann, 1.0);
  fann_set_training_algorithm(ann, rprop ? FANN_TRAIN_RPROP : FANN_TRAIN_BATCH);
  fann_set_train_error_function(ann, FANN_ERRORFUNC_LINEAR);
  /* The library seeds the C generator itself when it builds a network. */
  srand(seed);
  fann_randomize_weights(ann, -0.5, 0.5);

  struct timespec wall0, wall1, cpu0, cpu1;
  double mse = 0.0;
  clock_gettime(CLOCK_MONOTONIC, &wall0);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
  for (int epoch = 0; epoch < passes; ++epoch) mse = fann_train_epoch(ann, data);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
  clock_gettime(CLOCK_MONOTONIC, &wall1);

  printf("records=%d passes=%d cpu_s=%.6f wall_s=%.6f train_error=%.6g", train.rows, passes,
         seconds(cpu0, cpu1), seconds(wall0, wall1), mse);

  if (test_path) {
    table test;
    read_csv(test_path, &test);
    if (test.inputs != e.inputs) fail("the test file has other inputs", NULL);
    fann_type* x = malloc(sizeof(fann_type) * (size_t)e.inputs);
    double hits = 0.0, sse = 0.0, sse_mean = 0.0;
    for (int r = 0; r < test.rows; ++r) {
      encode_inputs(&e, &test, r, x);
      const fann_type* out = fann_run(ann, x);
      if (classify) {
        int best = 0;
        for (int k = 1; k < e.outputs; ++k)
          if (out[k] > out[best]) best = k;
        if (class_of(&e, test.target[r]) == best) hits += 1.0;
      } else {
        const double y = strtod(test.target[r], NULL);
        const double predicted = out[0] * e.target_sd + e.target_mean;
        sse += (y - predicted) * (y - predicted);
        sse_mean += (y - e.target_mean) * (y - e.target_mean);
      }
    }
    if (classify)
      printf(" accuracy=%.6f", hits / test.rows);
    else
      printf(" relerr=%.6f", sse / sse_mean);
    free(x);
  }
  printf("\n");
  fann_destroy_train(data);
  fann_destroy(ann);
  return 0;
}
