# Work split from Python: jobs=N local worker processes, or an executor (a
# ProcessPoolExecutor, a Dask LocalCluster's), to which the chunks go a few a
# task: the results equal the local run's to the last bit; the progress
# callback sees every point; a worker with another build refuses the work.
import concurrent.futures as cf

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
