// The live plot of the eight analog channels: uPlot over a window of
// bounded length, paused and resumed, each channel shown or hidden.
/* global uPlot */

const COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728",
  "#9467bd", "#8c564b", "#e377c2", "#17becf"];
export const CHANNELS = 8;

export class LivePlot {
  /**
   * @param {HTMLElement} container
   * @param {number} windowSeconds how far back the plot reaches
   * @param {number} mostPoints at most this many readings held, whatever the rate
   */
  constructor(container, windowSeconds = 600, mostPoints = 6001) {
    this.windowSeconds = windowSeconds;
    this.mostPoints = mostPoints;
    this.columns = [[]];
    for (let c = 0; c < CHANNELS; c++) {
      this.columns.push([]);
    }
    this.paused = false;
    this.plotted = 0; // readings the chart shows (it stays put while paused)
    const series = [{}];
    for (let c = 0; c < CHANNELS; c++) {
      series.push({ label: `ch${c}`, stroke: COLOURS[c], width: 1.5 });
    }
    this.chart = new uPlot({
      width: Math.max(320, container.clientWidth || 900),
      height: 320,
      series,
      scales: { x: { time: true } },
      axes: [{}, { size: 70 }],
      legend: { live: false },
    }, this.columns, container);
  }

  /**
   * @param {Array<Array<number>>} rows [time, ch0..ch7] each, oldest first
   */
  add(rows) {
    for (const row of rows) {
      for (let i = 0; i <= CHANNELS; i++) {
        this.columns[i].push(row[i]);
      }
    }
    const times = this.columns[0];
    let drop = Math.max(0, times.length - this.mostPoints);
    const newest = times[times.length - 1];
    while (drop < times.length && times[drop] < newest - this.windowSeconds) {
      drop++;
    }
    if (drop > 0) {
      for (const column of this.columns) {
        column.splice(0, drop);
      }
      this.plotted = Math.max(0, this.plotted - drop);
    }
    if (!this.paused) {
      this.redraw();
    }
  }

  redraw() {
    this.plotted = this.columns[0].length;
    this.chart.setData(this.columns.map((column) => column.slice()));
  }

  setPaused(paused) {
    this.paused = paused;
    if (!paused) {
      this.redraw();
    }
  }

  setVisible(channel, shown) {
    this.chart.setSeries(channel + 1, { show: shown });
  }

  /**
   * Current, least and greatest value of each channel over the window.
   * @returns {Array<{current: number, min: number, max: number}>}
   */
  stats() {
    const result = [];
    for (let c = 1; c <= CHANNELS; c++) {
      const column = this.columns[c];
      let min = Infinity;
      let max = -Infinity;
      for (const value of column) {
        min = Math.min(min, value);
        max = Math.max(max, value);
      }
      result.push({ current: column[column.length - 1], min, max });
    }
    return result;
  }

  /** What the chart shows: its newest reading and how many it holds. */
  shown() {
    const last = this.plotted - 1;
    return {
      points: this.plotted,
      latest: last < 0 ? null : this.columns.map((column) => column[last]),
    };
  }
}
