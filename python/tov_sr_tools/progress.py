"""A search's levels as a tqdm progress bar."""

from tov_sr_tools._extras import require


class ProgressBar:
    """A level callback (`callback=` of every search method) that advances a
    tqdm bar by the levels completed and shows the best error and formula so
    far. It never stops the search. `close()` (or leaving a `with` block)
    ends the bar; so does the callback when the bar reaches its total."""

    def __init__(self, bar):
        self.bar = bar

    def __call__(self, report):
        if report.best_error is not None:
            self.bar.set_postfix_str(f"error {report.best_error:.3g}: {report.best_formula}",
                                     refresh=False)
        self.bar.update(report.level - self.bar.n)
        if self.bar.total is not None and self.bar.n >= self.bar.total:
            self.close()

    def close(self):
        self.bar.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()


def progress_bar(total=None, **options):
    """A level callback that shows the search's levels as a tqdm bar.

    `total` is the number of levels, normally the searcher's
    `max_complexity` (None: a bar without an end). Other keyword arguments go
    to tqdm (`file=`, `leave=`, `desc=`, ...). The bar is tqdm.auto's: a
    widget in Jupyter, text on a terminal. Needs tqdm (`pip install
    "tov_sr[progress]"`)::

        searcher = tov_sr.Searcher(max_complexity=8, verbose=False)
        with progress_bar(total=searcher.max_complexity) as bar:
            result = searcher.find_function(xs, ys, callback=bar)
    """
    tqdm = require("progress_bar", "tqdm.auto").tqdm
    options.setdefault("desc", "levels")
    options.setdefault("unit", "level")
    return ProgressBar(tqdm(total=total, **options))
