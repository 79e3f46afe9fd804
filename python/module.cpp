// The Python module kestrane: its docstring, and each part registered from its own file.
#include "module_support.h"

PYBIND11_MODULE(kestrane, m) {
  m.doc() =
      "Absorbed dose coefficients from tabulated dose rates, as Kestrane computes them.\n\n"
      "Every coefficient is the exact integral from intake (0) to an integration time of\n"
      "the monotone cubic Hermite interpolant through a record's tabulated rates, the same\n"
      "numbers to the bit as the programs kestrane and kestrane-batch.\n\n"
      "  DoseRateFile(path)      a dose-rate file: title, region names, records() streamed\n"
      "  coefficients(workdir)   the coefficients of a run as a pandas DataFrame, with the\n"
      "                          columns of kestrane-batch's CSV files\n"
      "  doses(workdir, scheme=) the equivalent and effective doses of a run by a weighting\n"
      "                          scheme, with the columns of kestrane-batch's dose files\n"
      "  Scheme(path)            a weighting scheme, read and checked\n"
      "  integrate(x, f, upper)  the integrals of the interpolant from 0 to each limit\n"
      "  InputError              an input file refused (.file, .line, .record, .reason)\n\n"
      "A bad choice raises ValueError, a missing file FileNotFoundError. The computation\n"
      "runs without the GIL, on the programs' threads, and Ctrl-C stops it with\n"
      "KeyboardInterrupt.";
  namespace kp = kestrane::python;
  kp::register_errors(m);
  kp::register_integrate(m);
  kp::register_file(m);
  kp::register_coefficients(m);
  kp::register_doses(m);
}
