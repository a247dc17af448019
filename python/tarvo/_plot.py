"""The picture of a fit with matplotlib, from the same plot data the command draws with
PLplot: one column per output, the measurements and the curve above, the residuals below,
the interval boundaries as dashed lines and, for a model with experiments, each experiment's
start as a solid line with its name."""


def draw(plt, d):
    panels = d["panels"]
    fig, axes = plt.subplots(2, len(panels), squeeze=False, sharex="col",
                             figsize=(5 * len(panels), 5),
                             gridspec_kw={"height_ratios": [3, 1]})
    for k, p in enumerate(panels):
        top, bottom = axes[0][k], axes[1][k]
        top.plot(p["point_t"], p["point_y"], "o", ms=3, label="measured")
        for piece, (t, y) in enumerate(zip(p["curve_t"], p["curve_y"])):
            top.plot(t, y, "-", color="C1", label="model" if piece == 0 else None)
        bottom.plot(p["residual_t"], p["residual_y"], "o", ms=3)
        bottom.axhline(0, color="grey", lw=0.8)
        for b in d["boundaries"]:
            top.axvline(b, ls="--", color="grey", lw=0.8)
            bottom.axvline(b, ls="--", color="grey", lw=0.8)
        for n, (t, name) in enumerate(zip(d.get("experiment_starts", []),
                                          d.get("experiment_names", []))):
            if n > 0:
                top.axvline(t, color="black", lw=1)
                bottom.axvline(t, color="black", lw=1)
            top.annotate(name, (t, 1), xycoords=("data", "axes fraction"), va="top",
                         ha="left", fontsize="small")
        if d["log_y"]:
            top.set_yscale("log")
        top.set_title(p["name"])
        top.legend()
        bottom.set_xlabel(d["time_label"])
        bottom.set_ylabel("residual (%)" if d["relative_residuals"] else "residual")
    if d["title"]:
        fig.suptitle(d["title"])
    fig.tight_layout()
    return fig
