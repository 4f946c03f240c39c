# The checks of the scenario clients: one line each on standard error, the
# failed ones gathered for the exit status.
import sys

failures = []


def check(what, got, wanted):
    if got != wanted:
        failures.append(what)
        print(f'FAIL {what}: got {got!r}, wanted {wanted!r}', file=sys.stderr)
    else:
        print(f'ok   {what}', file=sys.stderr)


def finish():
    if failures:
        sys.exit(f'{len(failures)} failures: {failures}')
