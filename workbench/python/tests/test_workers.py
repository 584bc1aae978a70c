# Work split from Python: jobs=N local worker processes, or an executor (a
# ProcessPoolExecutor, a Dask LocalCluster's), to which the chunks go a few a
# task: the results equal the local run's to the last bit; the progress
# callback sees every point; a worker with another build refuses the work;
# an answer that is not the one asked for raises WorkerError.
import concurrent.futures as cf
import os
import pwd
import shutil
import subprocess
import sys


import re

import pytest

import urea_reactor as ur
from conftest import RUNS, plant_history

VARY = {"t_out": (170, 194, 40), "nh3_co2": [2.8, 3.2, 3.6]}  # 120 points, 6 chunks
RESULTS = ["co2_conversion", "x_UREA@5", "rate_calls"]


class Counted(cf.ProcessPoolExecutor):
    """A process pool that counts the tasks it is given."""

    tasks = 0

    def submit(self, *args, **kwargs):
        Counted.tasks += 1
        return super().submit(*args, **kwargs)


def test_jobs_and_an_executor_give_the_local_results_to_the_last_bit():
    local = ur.study(vary=VARY, results=RESULTS).to_pandas()
    seen = []
    forked = ur.study(vary=VARY, results=RESULTS, jobs=3, progress=lambda done, total: seen.append((done, total)))
    assert forked.to_pandas().equals(local)
    assert seen[-1] == (120, 120) and len(seen) == 120 and [d for d, _ in seen] == sorted(d for d, _ in seen)
    bootstrap = dict(fix={"a1": 1}, bootstrap=6, seed=4)
    design = dict(fix={"a1": 1}, vary={"t_out": (176, 195, 20), "co2": (1700, 3000, 4)})
    with Counted(2) as ex:
        assert ur.study(vary=VARY, results=RESULTS, executor=ex).to_pandas().equals(local)
        assert Counted.tasks == 2  # four chunks a task
        assert ur.estimate(RUNS, executor=ex, **bootstrap).to_json() == ur.estimate(RUNS, **bootstrap).to_json()
        assert Counted.tasks == 4  # six resamples
        there = ur.design(RUNS, executor=ex, **design)
        here = ur.design(RUNS, **design)
        assert there.candidates.to_pandas().equals(here.candidates.to_pandas()) and there.verdict == here.verdict
        # A monitor's 24 windows: three chunks of eight in each of its two passes.
        history = plant_history(days=6, step_day=3)
        monitor = dict(fix={"a1": 1}, window="6h")
        here = ur.monitor(history, **monitor)
        before = Counted.tasks
        for there in (ur.monitor(history, executor=ex, **monitor), ur.monitor(history, jobs=3, **monitor)):
            assert there.windows.to_pandas().equals(here.windows.to_pandas()) and there.drifts == here.drifts
        assert len(here.windows) == 24 and Counted.tasks == before + 2  # a task for each pass
    # A worker whose builds are not the sender's refuses the work.
    with pytest.raises(ur.PluginError, match="not those the work was planned with"):
        ur._run_chunks(None, "another build", "study", b"", 0, 1)


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # tornado's, under distributed
def test_a_dask_cluster_of_processes_gives_the_local_study():
    import distributed  # python3-distributed: scripts/install-deps installs it
    local = ur.study(vary=VARY, results=RESULTS).to_pandas()
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as c:
        with distributed.Client(c) as client:
            assert ur.study(vary=VARY, results=RESULTS, executor=client.get_executor()).to_pandas().equals(local)


def test_no_worker_process_to_be_had_is_a_resource_error():
    # Root is not held to a process limit: the call is nobody's, in a
    # Python of one process (no thread pools) limited to itself.
    try:
        nobody = pwd.getpwnam("nobody")
    except KeyError:
        pytest.skip("no unprivileged user to run as")
    if os.geteuid() != 0 or shutil.which("setpriv") is None:
        pytest.skip("no unprivileged user to run as")
    code = ("import urea_reactor as ur\n"
            "try:\n"
            "    ur.study(vary={'t_out': (176, 192, 17), 'nh3_co2': [3, 3.4]}, results=['co2_conversion'], jobs=2)\n"
            "except ur.ResourceError as e:\n"
            "    print(type(e).__name__, isinstance(e, OSError), e)\n")
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    as_nobody = ["setpriv", f"--reuid={nobody.pw_uid}", f"--regid={nobody.pw_gid}", "--clear-groups"]
    # A module in a folder that nobody may enter (a private checkout) cannot be imported so.
    free = subprocess.run(as_nobody + [sys.executable, "-c", "import urea_reactor"],
                          capture_output=True, text=True, timeout=120, env=env, cwd="/")
    if free.returncode != 0:
        pytest.skip("the module cannot be imported as nobody: " + (free.stderr.strip() or f"exit status {free.returncode}"))
    p = subprocess.run(as_nobody + ["prlimit", "--nproc=1", sys.executable, "-c", code],
                       capture_output=True, text=True, timeout=120, env=env, cwd="/")
    assert p.stdout == "ResourceError True no worker process could be started (fork: Resource temporarily unavailable)\n", p.stderr


class Tampered(cf.ProcessPoolExecutor):
    """A process pool whose answers (a task's chunks, each a list of bytes)
    pass through change() on their way back; or whose tasks are given
    another state than the one sent."""

    def __init__(self, change=lambda answer: answer, state=None):
        super().__init__(1)
        self.change, self.state, self.states = change, state, []

    def submit(self, fn, plugin, builds, kind, state, first, last):
        self.states.append(state)
        task = super().submit(fn, plugin, builds, kind, self.state or state, first, last)
        change = self.change

        class Answer:
            def result(self, timeout=None):
                return change(task.result(timeout))

            def cancel(self):
                return task.cancel()

        return Answer()


SMALL = {"t_out": (170, 194, 40)}  # two chunks of 20 points, one task


@pytest.mark.parametrize(
    "change, words",
    [
        (lambda a: a + a, "chunk 1 of 2 of the study: its task of 2 chunks answered 4"),  # duplicated
        (lambda a: a[:1], "its task of 2 chunks answered 1"),  # dropped
        (lambda a: [], "its task of 2 chunks answered 0"),  # empty
        (lambda a: a[::-1], "chunk 1 of 2 of the study: it answers chunk 2"),  # reordered
        (lambda a: [a[0], a[1][:3] + a[1][4:]], "chunk 2 of 2 of the study: result 5 came where 4 was due"),
        (lambda a: [[r[:-1] for r in a[0]], a[1]], "chunk 1 of 2 of the study: its seal: "),  # truncated
        (lambda a: [[r + b"x" for r in a[0]], a[1]], "its seal: a message of the workers: bytes past its end"),  # extra bytes
        (lambda a: None, "not a list of chunks"),
    ],
)
def test_an_answer_not_asked_for_raises_worker_error(change, words):
    with Tampered(change) as ex, pytest.raises(ur.WorkerError, match=re.escape(words)):
        ur.study(vary=SMALL, results=RESULTS, executor=ex)


def test_another_plans_answer_a_monitor_answered_twice_and_a_bootstrap_short_of_a_resample_are_refused():
    with Tampered() as ex:
        ur.study(vary={"t_out": (171, 195, 40)}, results=RESULTS, executor=ex)
    with Tampered(state=ex.states[0]) as other:
        with pytest.raises(ur.WorkerError, match="another piece of work"):
            ur.study(vary=SMALL, results=RESULTS, executor=other)
    history = plant_history(days=1, step_day=3)
    with Tampered(lambda a: a + a) as ex, pytest.raises(ur.WorkerError, match="of the monitor: its task of 1 chunks"):
        ur.monitor(history, fix={"a1": 1}, window="6h", executor=ex)
    with Tampered(lambda a: [a[0], [], *a[2:]]) as ex, pytest.raises(ur.WorkerError, match="of the bootstrap: nothing"):
        ur.estimate(RUNS, fix={"a1": 1}, bootstrap=6, seed=4, executor=ex)
